// A program linked with the refusing library at build time, as a host links libportrix.
#include <cstdio>

extern "C" int RefusingLibraryAnswer();

int main() {
    std::printf("host ran %d\n", RefusingLibraryAnswer());
    return 0;
}
