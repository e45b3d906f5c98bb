#include "Validators.h"

#include <sys/xattr.h>

#include <cerrno>

namespace nimbrel {
namespace {

constexpr char kEtagAttribute[] = "user.nimbrel.etag";
constexpr char kLastModifiedAttribute[] = "user.nimbrel.last-modified";

std::string ReadAttribute(int fd, const char* name) {
    char value[kMaxValidatorBytes + 1];
    const ssize_t length = ::fgetxattr(fd, name, value, sizeof value);
    if (length <= 0) return "";
    const std::string text(value, static_cast<size_t>(length));
    return IsUsableValidator(text) ? text : "";
}

bool WriteAttribute(int fd, const char* name, const std::string& value) {
    if (value.empty()) return ::fremovexattr(fd, name) == 0 || errno == ENODATA;
    return ::fsetxattr(fd, name, value.data(), value.size(), 0) == 0;
}

}  // namespace

Validators ReadValidators(int fd) {
    return {ReadAttribute(fd, kEtagAttribute), ReadAttribute(fd, kLastModifiedAttribute)};
}

bool WriteValidators(int fd, const Validators& validators) {
    const bool etag = WriteAttribute(fd, kEtagAttribute, validators.etag);
    const bool lastModified = WriteAttribute(fd, kLastModifiedAttribute, validators.lastModified);
    return etag && lastModified;
}

}  // namespace nimbrel
