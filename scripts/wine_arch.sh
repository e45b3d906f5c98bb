# Sourced by the Wine scripts: whether this machine can run a Windows architecture's programs.
# Wine runs i686 programs through its 32-bit loader, itself a 32-bit Linux program. Some kernels
# refuse every 32-bit program ("Exec format error": built without 32-bit compatibility, or in a
# virtual machine that cannot enter 32-bit mode). There the i686 DLLs and hosts are still built,
# so the compiler checks them, but test programs that cannot run are not, and nothing is run; the
# scripts say so in their summary.
#   wine_runs ARCH        true when ARCH's programs can run here
#   wine_cannot_run ARCH  the line that says why ARCH was not run
wine_runs() {
    [ "$1" != i686 ] || /usr/lib/wine/wine --version >/dev/null 2>&1
}
wine_cannot_run() {
    echo "$1 under Wine: NOT RUN: this machine's kernel does not run 32-bit programs" \
         "($(/usr/lib/wine/wine --version 2>&1 | tail -n1 | sed 's/.*: //'))"
}
