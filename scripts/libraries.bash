# Sourced by scripts/panel-sysroot and scripts/host-libraries, which build
# libraries from Debian's sources into $stage (below $work): mimalloc, and
# the notices that sbom/generate.py tells of the code linked in.

# build_mimalloc TOOL-PREFIX CMAKE-ARGUMENTS...: mimalloc, a Release build
# whatever the arguments say, from the source of
# the version installed here, as one object ($stage/usr/lib/mimalloc.o) that
# reads no environment variable and leaves its memory to the process's exit.
# Its definitions are weak, so that the test variant's counting operator new
# comes first.
build_mimalloc() {
    local prefix=$1
    shift
    mimalloc_version=$(dpkg-query -W -f='${Version}' libmimalloc-dev)
    mimalloc_source=$(scripts/fetch-source mimalloc "$mimalloc_version" "$work")
    step "configuring mimalloc $mimalloc_version" cmake -S "$mimalloc_source" \
        -B "$work/mimalloc-build" -G Ninja "$@" -DCMAKE_BUILD_TYPE=Release -DMI_BUILD_SHARED=OFF \
        -DMI_BUILD_STATIC=OFF -DMI_BUILD_TESTS=OFF -DMI_OVERRIDE=ON -DMI_SKIP_COLLECT_ON_EXIT=ON
    step "building mimalloc" nice cmake --build "$work/mimalloc-build"
    local object=$work/mimalloc-build/CMakeFiles/mimalloc-obj.dir/src/static.c.o
    mkdir -p "$stage/usr/lib"
    "${prefix}nm" --defined-only --extern-only --format=just-symbols "$object" >"$work/mimalloc-symbols"
    step "installing mimalloc" "${prefix}objcopy" --weaken-symbols="$work/mimalloc-symbols" \
        "$object" "$stage/usr/lib/mimalloc.o"
    step "keeping the notices of mimalloc" keep_notices mimalloc "$mimalloc_version" \
        "$mimalloc_source/debian/copyright" "$mimalloc_source/LICENSE"
}

# keep_notices PACKAGE VERSION DEBIAN-COPYRIGHT TEXT...: in
# $stage/usr/share/doc/PACKAGE, Debian's copyright file of the source, the
# upstream licence texts (licence) and the files of the source package with
# their checksums as the archive lists them (source-files). A source file's
# text is its first comment that holds a copyright, without the comment marks.
keep_notices() {
    local doc=$stage/usr/share/doc/$1 text
    mkdir -p "$doc"
    cp "$3" "$doc/copyright"
    for text in "${@:4}"; do
        case $text in
        *.[ch]) awk '/\/\*/ { block = "" } { block = block $0 "\n" }
                /\*\// && block ~ /Copyright/ { printf "%s", block; exit }' "$text" |
            sed -e 's|^/\*$||; s|^ \*/$||; s|^ \* \{0,1\}||' ;;
        *) cat "$text" ;;
        esac
        echo
    done >"$doc/licence"
    apt-get source --print-uris -qq "$1=$2" >"$doc/source-files"
}
