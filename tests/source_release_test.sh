#!/bin/sh
# The source archive builds on its own: made by CPack from the build tree,
# it holds no .git and no build tree, and unpacked elsewhere it configures,
# builds and passes its unit and end-to-end tests (what make distcheck does
# for autotools projects).
#   source_release_test.sh BUILD_DIR
set -eu
build=$(realpath "$1")
# A folder only its owner may enter, as a user's own often is: the tests
# that run the program as nobody must still pass from there.
scratch=$(mktemp -d /tmp/tandrel-source-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

(cd "$build" && cpack --config CPackSourceConfig.cmake -B "$scratch" >/dev/null)
archive=$(ls "$scratch"/tandrel-*-Source.tar.gz)
echo "archive: $(basename "$archive")"
if tar tzf "$archive" | grep -E '/(\.git|build)/' >/dev/null; then
	echo "FAIL: the archive holds a .git or a build tree"
	exit 1
fi
(cd "$scratch" && tar xzf "$archive")
source=$scratch/$(basename "$archive" .tar.gz)

cmake -S "$source" -B "$source/build" -DCMAKE_BUILD_TYPE=Release \
	-DTANDREL_WINDOWS_TESTS=OFF >/dev/null
cmake --build "$source/build" -j 2 >/dev/null
cd "$source/build"
ctest --output-on-failure --no-tests=error -j 2 -R '^(EndToEnd|Lines|Playlists|ConvertPlaylist|ReadLine|ReplaceChar|small/|readme|manual)'
echo "ok: the source archive builds on its own and passes its tests"
