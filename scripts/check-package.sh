#!/bin/sh
# Checks a built Debian package: its control data, the files it installs, its copyright
# file and change log, and that lintian finds no error in it (its warnings are shown).
#     scripts/check-package.sh FILE.deb
set -eu
deb=$1
fail() { echo "check-package: $*" >&2; exit 1; }

control=$(dpkg-deb --field "$deb")
for field in Package Version Architecture Maintainer Description Depends; do
    echo "$control" | grep -q "^$field: ." || fail "no $field field"
done
depends=$(dpkg-deb --field "$deb" Depends)
for library in libqt6widgets6 libboost-regex libicu libstemmer libcld2 libxxhash libstdc++6 libc6; do
    echo "$depends" | grep -q "$library" || fail "Depends lacks $library: $depends"
done

files=$(dpkg-deb --contents "$deb" | awk '{print $NF}')
for path in ./usr/bin/vantrelindexer ./usr/bin/vantrelindexer-cli \
            ./usr/share/vantrelindexer/Orvandle.html \
            ./usr/share/vantrelindexer/js/search.html ./usr/share/vantrelindexer/js/search.js \
            ./usr/share/vantrelindexer/js/search_top.html ./usr/share/vantrelindexer/js/search.css \
            ./usr/share/applications/vantrelindexer.desktop \
            ./usr/share/icons/hicolor/48x48/apps/vantrelindexer.png \
            ./usr/share/man/man1/vantrelindexer-cli.1.gz ./usr/share/man/man1/vantrelindexer.1.gz \
            ./usr/share/doc/vantrelindexer/copyright ./usr/share/doc/vantrelindexer/changelog.gz; do
    echo "$files" | grep -qx "$path" || fail "the package lacks $path"
done
echo "$files" | grep -v '^\./usr/' | grep -qv '^\./$' && fail "files outside /usr: $(echo "$files" | grep -v '^\./usr/')"

# The command line in the package runs and finds its search page where it is installed.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb --extract "$deb" "$unpacked"
"$unpacked/usr/bin/vantrelindexer-cli" --version >/dev/null || fail "vantrelindexer-cli does not run"

# The copyright file in the machine-readable format; the change log's latest entry is
# this version.
doc=$unpacked/usr/share/doc/vantrelindexer
head -n 1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    || fail "the copyright file is not in the machine-readable format"
gzip -dc "$doc/changelog.gz" >"$unpacked/changelog"
logged=$(dpkg-parsechangelog -l "$unpacked/changelog" -S Version) || fail "the change log does not parse"
version=$(dpkg-deb --field "$deb" Version)
[ "$logged" = "$version" ] || fail "the change log's latest entry is $logged, the package is $version"

# Debian's own checks: errors fail, warnings and the rest are listed.
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"
echo "check-package: $(basename "$deb") is complete"
