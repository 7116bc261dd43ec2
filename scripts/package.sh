#!/usr/bin/env bash
# Builds the Debian package kelvane_VERSION_amd64.deb from a clean Release
# build (in build-package/, or the folder given) and prints its path on the
# last line. The version is the project's, from CMakeLists.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
out=$(realpath -m "${1:-$src/build-package}")
rm -rf "$out"
mkdir -p "$out"

# Debian's hardening flags, as a package built by dpkg-buildpackage gets them.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DKELVANE_TESTS=OFF -DKELVANE_BENCH=OFF "${launcher[@]}" >&2
cmake --build "$out/build" -j "$(nproc)" >&2

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/build/CMakeCache.txt")
released=$(sed -n 's/^set(KELVANE_RELEASE_DATE \(.*\))$/\1/p' CMakeLists.txt)
# A native package: Kelvane is its own upstream.
debversion=$version
arch=$(dpkg --print-architecture)

root=$out/root
DESTDIR=$root cmake --install "$out/build" --prefix /usr --strip >&2
gzip -9n "$root"/usr/share/man/man1/*.1
doc=$root/usr/share/doc/kelvane
install -D -m 644 dist/debian/copyright "$doc/copyright"

# A source tree of the packaging files, for dpkg-shlibdeps and dpkg-gencontrol.
pkg=$out/pkg
mkdir -p "$pkg/debian"
cp dist/debian/control "$pkg/debian/control"
cat > "$pkg/debian/changelog" <<END
kelvane ($debversion) unstable; urgency=medium

  * Release $version.

 -- The Kelvane developers <maintainers@kelvane.org>  $(TZ=UTC LC_ALL=C date -R -d "$released")
END
gzip -9nc "$pkg/debian/changelog" > "$doc/changelog.gz"
chmod 644 "$doc/changelog.gz"
install -D -m 644 dist/debian/lintian-overrides "$root/usr/share/lintian/overrides/kelvane"

mkdir -p "$root/DEBIAN"
(cd "$pkg" && echo "misc:Depends=" > debian/substvars &&
   dpkg-shlibdeps -Tdebian/substvars "$root/usr/bin/kelvane" "$root/usr/bin/kelvane-cli" &&
   dpkg-gencontrol -pkelvane -P"$root" -Tdebian/substvars)
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum > DEBIAN/md5sums)
chmod 644 "$root/DEBIAN/md5sums"
find "$root" -type d -exec chmod 755 {} +

deb=$out/kelvane_${debversion}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >&2
echo "$deb"
