#!/usr/bin/env bash
# A documentation tree of about 100,000 real pages from Debian's documentation packages,
# for measuring the indexer and the search page on a large site:
#
#     bench/make-large-tree.sh DATA_DIR [TREE_DIR]
#
# Each package is fetched with apt-get download into DATA_DIR (kept, so a second run
# fetches nothing) and unpacked there under x/PACKAGE; TREE_DIR (default
# DATA_DIR/tree100k) gets one folder per package holding its usr/share/doc as hard links
# to the unpacked files (no second copy of 3.8 GB). With Debian 12's packages the tree
# holds 98,007 pages. Nothing of it belongs in the repository.
set -euo pipefail
export LC_ALL=C

[ $# -ge 1 ] || { echo "usage: $0 DATA_DIR [TREE_DIR]" >&2; exit 2; }
DATA=$(realpath -m -- "$1")
TREE=$(realpath -m -- "${2:-$DATA/tree100k}")
PACKAGES=(debian-handbook debian-reference-de debian-reference-en debian-reference-fr debian-reference-ja
    debian-reference-zh-cn erlang-doc git-doc groovy-doc libapache-poi-java-doc libcoin-doc libcommons-math3-java-doc
    libdeal.ii-doc libjfreechart-java-doc libmia-2.4-doc libpcl-doc libstdc++-12-doc libvigraimpex-doc openjdk-17-doc
    postgresql-doc-15 python-pandas-doc python-scipy-doc python3.11-doc qtbase5-doc-html rust-doc scala-doc wx3.2-doc)

mkdir -p "$DATA/x"
updated=false
for package in "${PACKAGES[@]}"; do
    if [ ! -f "$DATA/x/$package/.complete" ]; then
        if ! ls "$DATA/${package}_"*.deb >/dev/null 2>&1; then
            if ! (cd "$DATA" && apt-get download -q "$package" 2>/dev/null); then
                $updated || apt-get update -qq
                updated=true
                (cd "$DATA" && apt-get download -q "$package")
            fi
        fi
        rm -rf "$DATA/x/$package"
        dpkg -x "$(ls "$DATA/${package}_"*.deb | head -n 1)" "$DATA/x/$package"
        touch "$DATA/x/$package/.complete"
    fi
    if [ ! -d "$TREE/$package" ]; then
        mkdir -p "$TREE/$package.part"
        cp -al "$DATA/x/$package/usr/share/doc/." "$TREE/$package.part/"
        mv "$TREE/$package.part" "$TREE/$package"
    fi
done
echo "$TREE: $(find -L "$TREE" -type f -iname '*.htm*' | wc -l) pages"
