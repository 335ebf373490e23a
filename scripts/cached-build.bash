# Sourced by scripts/panel-toolchain and scripts/panel-sysroot: a build kept
# once per recipe in ${XDG_CACHE_HOME:-$HOME/.cache}/dolvin/NAME-KEY, KEY being
# a hash of the recipe, so that every clone on the machine shares it; the
# clone's .cache/NAME links to it. It is built in a scratch directory beside
# it and renamed into place when complete: an interrupted build never counts
# as done, and one build at a time runs on the machine.

# cached_build_start NAME RECIPE: links the clone and exits when the build is
# done; otherwise waits for the machine's lock and sets $final, the place for
# the result, and $work, the scratch directory, removed on exit.
cached_build_start() {
    local cache=${XDG_CACHE_HOME:-$HOME/.cache}/dolvin
    cached_name=$1
    cached_recipe=$2
    final=$cache/$cached_name-$(echo "$cached_recipe" | sha256sum | cut -c1-16)
    cached_build_link && exit 0
    mkdir -p "$cache"
    exec 9>"$cache/$cached_name.lock"
    flock 9
    # A run that waited finds it done.
    cached_build_link && exit 0
    work=$(mktemp -d "$cache/.$cached_name-build-XXXXXX")
    trap 'rm -rf "$work"' EXIT
    trap 'exit 1' HUP INT TERM
}

cached_build_link() {
    [ -f "$final/.recipe" ] && mkdir -p .cache && ln -sfn "$final" ".cache/$cached_name"
}

# cached_build_finish DIR: the complete build in DIR becomes $final.
cached_build_finish() {
    echo "$cached_recipe" >"$1/.recipe"
    mv -T "$1" "$final"
    cached_build_link
}

# step TEXT COMMAND...: runs a build step and tells how long it took, showing
# the end of its output only when it fails.
step() {
    local started=$SECONDS
    echo "$cached_name: $1"
    shift
    if ! "$@" >"$work/step.log" 2>&1; then
        tail -n 100 "$work/step.log" >&2
        echo "$cached_name: failed: $*" >&2
        return 1
    fi
    echo "$cached_name:   $((SECONDS - started)) s"
}
