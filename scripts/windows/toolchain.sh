#!/usr/bin/env bash
# Builds, once, the libraries Kaldoria needs for 64-bit Windows
# (x86_64-w64-mingw32) from Debian bookworm's own source packages, and keeps
# the installed result in a cache outside the clone:
#
#   ${KALDORIA_WINDOWS_CACHE:-$HOME/.cache/kaldoria-windows}/<key>/prefix
#
# <key> names the Debian version of every source package and a hash of the
# build options, the build steps, the compiler and cmake/mingw-w64.cmake, so
# a new version or a changed option builds again, and an unchanged one is
# reused at once. The file <key>/stamp
# is written last: a build that stopped half-way never looks finished, and a
# rerun goes on from the last part that completed.
#
#   toolchain.sh                 build what is missing (or reuse it)
#   toolchain.sh --print-prefix  print the finished prefix, fail if none
#   toolchain.sh --refresh       re-read Debian's source index first
#
# Source packages come only from Debian's archive, through a private apt
# list under the cache, so the machine's own apt set-up is left untouched.
#
# A cache with no finished build for the key starts from the seed, a
# finished toolchain packed by this script (KALDORIA_WINDOWS_SEED, by default
# ../shared/windows/toolchain-seed/toolchain-seed.tar.xz beside the clone;
# empty for none): it is unpacked into the cache when its SHA-256 is the one
# toolchain-seed.sha256 names, and every part whose hash it shares is reused.
set -euo pipefail
shopt -s inherit_errexit

# The parts' own makes run as top-level makes whatever started this script:
# PostgreSQL's makefiles make their generated headers (utils/errcodes.h …)
# only when MAKELEVEL is 0, and an outer make (make windows-toolchain, CI's
# make test-windows) exports 1, and its jobserver in MAKEFLAGS.
unset MAKELEVEL MAKEFLAGS MFLAGS MAKEOVERRIDES GNUMAKEFLAGS

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
cache=${KALDORIA_WINDOWS_CACHE:-$HOME/.cache/kaldoria-windows}
triple=x86_64-w64-mingw32
jobs=2
heavy=(nice -n 10)

mode=build
refresh=no
for arg in "$@"; do
  case $arg in
    --print-prefix) mode=print ;;
    --refresh) refresh=yes ;;
    *) echo "usage: $0 [--print-prefix] [--refresh]" >&2; exit 2 ;;
  esac
done

say() { [ "$mode" = print ] || echo "toolchain: $*"; }
die() { echo "toolchain: $*" >&2; exit 1; }

mkdir -p "$cache"
# One build at a time per cache (a build may take an hour: --print-prefix
# does not wait for it, and finds no stamp until it is done).
if [ "$mode" = build ]; then
  exec 9>"$cache/.lock"
  flock 9
fi

# --- Debian's source index, privately ---------------------------------------
# A private apt list in folder $1 of Debian's source suites ("debian
# bookworm" …, after the archive's address), its options for apt-get and
# apt-cache left in the array named $2; the machine's own apt set-up is not
# touched.
private_apt_list() {
  local dir=$1 suite
  local -n opts=$2
  shift 2
  mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
  for suite in "$@"; do
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/$suite main"
  done >"$dir/sources.list"
  opts=(
    -o "Dir::Etc::sourcelist=$dir/sources.list"
    -o "Dir::Etc::sourceparts=-"
    -o "Dir::State::Lists=$dir/lists"
    -o "Dir::Cache=$dir/cache"
  )
  # As root apt would hand downloads to the _apt user, who cannot enter $HOME.
  [ "$(id -u)" -ne 0 ] || opts+=(-o "APT::Sandbox::User=root")
}
apt_dir=$cache/apt
private_apt_list "$apt_dir" apt_opts "debian bookworm" "debian bookworm-updates" "debian-security bookworm-security"

index_age_days=7
# Reads the index of the list in folder $1 ($2 names it in messages, $3 is
# the array of its apt options) when asked (--refresh) or when a week old;
# --print-prefix answers from the index the build used, however old, and
# never downloads. Succeeds when the index was read now.
read_source_index() {
  local dir=$1 label=$2
  local -n index_opts=$3
  index_of() { find "$dir/lists" -maxdepth 1 -name '*_Sources*' "$@" 2>/dev/null; }
  if [ "$mode" = print ]; then
    [ -n "$(index_of)" ] || die "no $label yet; run $0 first"
    return 1
  fi
  [ "$refresh" = yes ] || [ -z "$(index_of -mtime -$index_age_days)" ] || return 1
  say "reading $label (private list in $dir)"
  apt-get "${index_opts[@]}" -qq update || die "could not read $label"
  # An unchanged index keeps its old date; it counts as read now.
  touch "$dir"/lists/*_Sources*
}
if read_source_index "$apt_dir" "Debian's source index" apt_opts; then
  # A fresh index may come with files that were missing before.
  rm -f "$cache"/sources/.unavailable-*
fi

# The versions of a source package in the index, newest first.
src_versions() {
  apt-cache "${apt_opts[@]}" showsrc "$1" 2>/dev/null |
    awk -v p="$1" '/^Package: /{ok = ($2 == p)} ok && /^Version: /{print $2}' |
    sort -u | sort -r -V
}

sources=$cache/sources
mkdir -p "$sources"
dsc_of() { echo "$sources/${1}_${2#*:}.dsc"; }

# The newest version of a source package that Debian's archive actually
# serves (a mirror may list a security update before it carries the files);
# downloaded once into $sources. A version the archive did not serve is not
# asked for again until the index is read again. --print-prefix never
# downloads.
src_version() {
  local v missing
  for v in $(src_versions "$1"); do
    [ -f "$(dsc_of "$1" "$v")" ] && { echo "$v"; return; }
    missing=$sources/.unavailable-${1}_${v#*:}
    [ "$mode" = print ] || [ -f "$missing" ] && continue
    # Fetched beside, kept only when every file of the version arrived.
    rm -rf "$sources/.partial" && mkdir "$sources/.partial"
    if (cd "$sources/.partial" && apt-get "${apt_opts[@]}" -qq source --download-only "$1=$v") >/dev/null 2>&1; then
      mv "$sources/.partial"/* "$sources/" && rmdir "$sources/.partial"
      echo "$v"; return
    fi
    rm -rf "$sources/.partial"
    touch "$missing"
    say "$1 $v: not downloadable from the archive, using an older version" >&2
  done
  die "no version of source package $1 could be fetched"
}

qt_ver=$(src_version qt6-base)
sqlite_ver=$(src_version sqlite3)
ssl_ver=$(src_version openssl)
pg_ver=$(src_version postgresql-15)
icu_ver=$(src_version icu)
jpeg_ver=$(src_version libjpeg-turbo)
zlib_ver=$(src_version zlib)
freetype_ver=$(src_version freetype)
qpdf_ver=$(src_version qpdf)
poppler_ver=$(src_version poppler)

# mdbtools (libmdb, which reads the older Jet books) comes from trixie:
# bookworm's 1.0.0+dfsg-1.1 is listed but its tarballs are gone from the
# archive, and trixie's .dsc is gone while its tarballs remain, so apt-get
# source fetches neither. trixie's index has a private list of its own (the
# bookworm list above decides every other part's version) and gives the
# SHA-256 of the tarballs, which are fetched from the pool and checked.
trixie_dir=$cache/apt-trixie
private_apt_list "$trixie_dir" trixie_opts "debian trixie"
read_source_index "$trixie_dir" "Debian trixie's source index" trixie_opts || true
# The record of the newest mdbtools in the Sources file that apt verified
# against trixie's signed InRelease.
mdb_records=$(apt-cache "${trixie_opts[@]}" showsrc mdbtools 2>/dev/null || true)
mdb_ver=$(printf '%s\n' "$mdb_records" |
  awk '/^Package: /{ok = ($2 == "mdbtools")} ok && /^Version: /{print $2}' | sort -u | sort -r -V | head -n1)
[ -n "$mdb_ver" ] || die "no mdbtools in trixie's source index"
mdb_record=$(printf '%s\n' "$mdb_records" |
  awk -v RS= -v v="$mdb_ver" '$0 ~ "(^|\n)Package: mdbtools\n" && $0 ~ "\nVersion: " v "\n" { print; exit }')
mdb_dir=$(printf '%s\n' "$mdb_record" | sed -n 's/^Directory: //p')
# "SHA256 SIZE FILE" of the upstream and the Debian tarball.
mdb_sums=$(printf '%s\n' "$mdb_record" |
  awk '/^[^ ]/ { on = ($1 == "Checksums-Sha256:") } on && /^ / && $3 ~ /\.tar\./ { print $1, $2, $3 }')
[ -n "$mdb_dir" ] && [ "$(printf '%s\n' "$mdb_sums" | grep -c .)" -eq 2 ] ||
  die "mdbtools $mdb_ver: no folder or not two tarballs in trixie's index"

# Downloads the two tarballs into $sources once, each checked against the index.
fetch_mdbtools() {
  local sum size file
  while read -r sum size file; do
    [ -f "$sources/$file" ] && continue
    [ "$mode" = print ] && die "mdbtools $mdb_ver is not downloaded; run $0"
    say "downloading $file"
    curl -fsS --retry 3 -o "$sources/.$file.part" "http://deb.debian.org/debian/$mdb_dir/$file"
    if ! echo "$sum  $sources/.$file.part" | sha256sum -c --quiet - ||
      [ "$(stat -c %s "$sources/.$file.part")" != "$size" ]; then
      rm -f "$sources/.$file.part"
      die "$file: not the SHA-256 and size that trixie's index gives"
    fi
    mv "$sources/.$file.part" "$sources/$file"
  done <<<"$mdb_sums"
}
fetch_mdbtools

# The host Qt supplies moc/rcc/uic; it must be the same Qt release.
host_qt=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)
[ "${host_qt%%+*}" = "${qt_ver%%+*}" ] ||
  die "host qt6-base-dev ${host_qt:-missing} is not Qt ${qt_ver%%+*}; run scripts/windows/install-deps.sh"

# --- Build options: what goes into the key's hash ---------------------------
qt_opts=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
  -DFEATURE_testlib=ON -DFEATURE_widgets=ON -DFEATURE_gui=ON
  -DFEATURE_style_windowsvista=ON
  -DFEATURE_pkg_config=OFF -DFEATURE_dbus=OFF -DFEATURE_network=OFF -DFEATURE_sql=OFF
  -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF -DFEATURE_printsupport=OFF
  -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_icu=OFF -DFEATURE_glib=OFF
  -DFEATURE_direct2d=OFF -DFEATURE_jpeg=OFF -DFEATURE_gif=OFF
  # Debian's cleaned tarball has no src/3rdparty/wintab.
  -DFEATURE_tabletevent=OFF
  -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_freetype=OFF
  -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF
  -DFEATURE_imageformat_bmp=ON
)
# The compile options of Debian's own libsqlite3 that change what SQL does or
# what a program may pass (URI file names, bound-parameter limit, LIKE on
# blobs, secure delete); FTS and R*Tree are left out.
sqlite_defs=(
  -DSQLITE_THREADSAFE=1 -DSQLITE_USE_URI=1 -DSQLITE_SECURE_DELETE
  -DSQLITE_MAX_VARIABLE_NUMBER=250000 -DSQLITE_LIKE_DOESNT_MATCH_BLOBS
  -DSQLITE_MAX_SCHEMA_RETRY=25 -DSQLITE_OMIT_LOOKASIDE=1
  -DSQLITE_ENABLE_DBSTAT_VTAB -DSQLITE_ENABLE_UNLOCK_NOTIFY -DSQLITE_SOUNDEX=1
  -DSQLITE_ENABLE_LOAD_EXTENSION -DSQLITE_ENABLE_STMTVTAB -fno-strict-aliasing
  # The engine asks which table a result column comes from, as on Linux.
  -DSQLITE_ENABLE_COLUMN_METADATA
)
ssl_opts=(mingw64 shared no-tests)
# Where libcrypto looks for openssl.cnf (libpq loads it, and it may name DLLs
# to load) and for engines and providers: folders only administrators can
# write, never the build machine's paths (C:\root\... can be made by any
# user). Given to make, because Configure takes C:/... for a relative path.
ssl_dirs=(
  "OPENSSLDIR=C:/Program Files/Common Files/SSL"
  "ENGINESDIR=C:/Program Files/Common Files/SSL/engines-3"
  "MODULESDIR=C:/Program Files/Common Files/SSL/ossl-modules"
)
pg_opts=(--with-openssl --without-readline --without-icu --without-zlib)
# ICU's common library only, with the stub data library: the character
# properties Kaldoria asks for (White_Space, Default_Ignorable_Code_Point)
# are compiled into the common code and need no data file.
icu_defs=(-DU_COMMON_IMPLEMENTATION -DU_STATIC_IMPLEMENTATION -DU_ATTRIBUTE_DEPRECATED=)
cflags=(-O2 -g0)
# libjpeg-turbo as a static library for Qt's JPEG plugin alone; its SIMD code
# needs nasm and a seal scan decodes fast enough without it.
jpeg_opts=(
  -DCMAKE_BUILD_TYPE=Release -DENABLE_SHARED=OFF -DENABLE_STATIC=ON
  -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF
)

# The PDF libraries: qpdf writes a stamped document, Poppler (its Qt 6
# wrapper) finds the mark and draws pages. zlib goes into them statically;
# qpdf's crypto is OpenSSL's (the SHA-256 of the ledger).
zlib_opts=(-DCMAKE_BUILD_TYPE=Release)
# FreeType as a DLL: its own copy of zlib (for gzip-packed fonts) stays
# inside it, apart from the zlib qpdf and Poppler link.
freetype_opts=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
  -DFT_DISABLE_ZLIB=ON -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BROTLI=ON
)
qpdf_opts=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DBUILD_STATIC_LIBS=OFF
  -DUSE_IMPLICIT_CRYPTO=OFF -DREQUIRE_CRYPTO_OPENSSL=ON -DDEFAULT_CRYPTO=openssl
  -DBUILD_DOC=OFF -DINSTALL_MANUAL=OFF -DINSTALL_EXAMPLES=OFF
)
poppler_opts=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DFONT_CONFIGURATION=win32
  -DENABLE_QT6=ON -DENABLE_QT5=OFF -DENABLE_CPP=OFF -DENABLE_GLIB=OFF -DENABLE_GOBJECT_INTROSPECTION=OFF
  -DENABLE_UTILS=OFF -DENABLE_BOOST=OFF -DENABLE_LIBOPENJPEG=none -DENABLE_CMS=none -DENABLE_DCTDECODER=libjpeg
  -DENABLE_LIBCURL=OFF -DENABLE_ZLIB=ON -DENABLE_NSS3=OFF -DENABLE_GPGME=OFF -DENABLE_RELOCATABLE=ON
  -DBUILD_GTK_TESTS=OFF -DBUILD_QT5_TESTS=OFF -DBUILD_QT6_TESTS=OFF -DBUILD_CPP_TESTS=OFF -DBUILD_MANUAL_TESTS=OFF
  -DRUN_GPERF_IF_PRESENT=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Cairo=ON -DCMAKE_DISABLE_FIND_PACKAGE_PNG=ON
  -DCMAKE_DISABLE_FIND_PACKAGE_TIFF=ON -DCMAKE_DISABLE_FIND_PACKAGE_Fontconfig=ON
)

# --- How each part is built (their text is hashed too) ----------------------
build_qt() {
  local src; src=$(unpack qt6-base "$qt_ver")
  # With Direct2D off, the Windows plugin still asks for the DirectWrite 3
  # font database, whose sources are only built together with Direct2D.
  sed -i 's/^#if QT_CONFIG(directwrite3)$/#if QT_CONFIG(directwrite3) \&\& QT_CONFIG(direct2d)/' \
    "$src/src/plugins/platforms/windows/qwindowsintegration.cpp"
  grep -q 'QT_CONFIG(directwrite3) && QT_CONFIG(direct2d)' \
    "$src/src/plugins/platforms/windows/qwindowsintegration.cpp"
  # With OpenGL off, "dynamicgl" stays on and the Windows plugin's window code
  # still names OpenGL's context classes.
  sed -i '/^static inline bool isSoftwareGl()/,/^}/ s/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    "$src/src/plugins/platforms/windows/qwindowswindow.cpp"
  grep -q 'QT_CONFIG(dynamicgl) && QT_CONFIG(opengl)' \
    "$src/src/plugins/platforms/windows/qwindowswindow.cpp"
  cmake -S "$src" -B "$work/qt-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${qt_opts[@]}"
  "${heavy[@]}" cmake --build "$work/qt-build" -j "$jobs"
  cmake --install "$work/qt-build"
}

build_libjpeg() {
  local src; src=$(unpack libjpeg-turbo "$jpeg_ver")
  cmake -S "$src" -B "$work/jpeg-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR="$prefix/lib" "${jpeg_opts[@]}"
  "${heavy[@]}" cmake --build "$work/jpeg-build" -j "$jobs"
  cmake --install "$work/jpeg-build"
}

# Qt's GIF and JPEG image plugins, built from the same qtbase source as Qt
# itself by a small project of ours (imageformats/) against the installed
# Qt and libjpeg, so that the formats import takes on Linux are read on
# Windows too without building Qt again.
build_qt_imageformats() {
  local src; src=$(unpack qt6-base "$qt_ver")
  cmake -S "$here/imageformats" -B "$work/formats-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DKALDORIA_WINDOWS_PREFIX="$prefix" -DQT_SOURCE="$src" -DCMAKE_INSTALL_PREFIX="$prefix"
  "${heavy[@]}" cmake --build "$work/formats-build" -j "$jobs"
  cmake --install "$work/formats-build"
}

build_sqlite() {
  local src; src=$(unpack sqlite3 "$sqlite_ver")
  mkdir -p "$work/sqlite-build"
  cd "$work/sqlite-build"
  # The amalgamation is generated on the host (with tclsh), then cross-compiled.
  "$src/configure" --disable-tcl >/dev/null
  "${heavy[@]}" make -j "$jobs" sqlite3.c shell.c
  local cc=("$triple-gcc-posix" "${cflags[@]}" "${sqlite_defs[@]}")
  "${heavy[@]}" "${cc[@]}" -shared -o "$prefix/bin/libsqlite3-0.dll" sqlite3.c \
    -Wl,--out-implib,"$prefix/lib/libsqlite3.dll.a"
  "${heavy[@]}" "${cc[@]}" -o "$prefix/bin/sqlite3.exe" shell.c -I. -L"$prefix/lib" -lsqlite3
  cp sqlite3.h sqlite3ext.h "$prefix/include/"
  local v; v=$(sed -n 's/^#define SQLITE_VERSION *"\(.*\)"/\1/p' sqlite3.h)
  cat >"$prefix/lib/pkgconfig/sqlite3.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: SQLite
Description: SQL database engine (Debian's sqlite3 $sqlite_ver, cross-built)
Version: $v
Libs: -L\${libdir} -lsqlite3
Cflags: -I\${includedir}
EOF
}

build_openssl() {
  local src; src=$(unpack openssl "$ssl_ver")
  cd "$src"
  ./Configure "${ssl_opts[@]}" --cross-compile-prefix="$triple-" CC=gcc-posix \
    --prefix="$prefix" --libdir=lib
  "${heavy[@]}" make -j "$jobs" build_sw "${ssl_dirs[@]}"
  strings libcrypto-3-x64.dll | grep -x 'OPENSSLDIR: "C:/Program Files/Common Files/SSL"' >/dev/null
  make install_sw
}

build_libpq() {
  local src; src=$(unpack postgresql-15 "$pg_ver")
  mkdir -p "$work/pg-build"
  cd "$work/pg-build"
  "$src/configure" --host="$triple" --prefix="$prefix" "${pg_opts[@]}" \
    CC="$triple-gcc-posix" CPPFLAGS="-I$prefix/include" LDFLAGS="-L$prefix/lib"
  "${heavy[@]}" make -j "$jobs" -C src/interfaces/libpq
  make -C src/interfaces/libpq install
  cp "$src/src/include/postgres_ext.h" src/include/pg_config_ext.h "$prefix/include/"
}

build_icu() {
  local src; src=$(unpack icu "$icu_ver")/source
  local b=$work/icu-build
  mkdir -p "$b/common" "$b/stubdata"
  # ICU's common library only; a small generated ninja file builds it.
  {
    echo "rule cxx"
    echo "  command = $triple-g++-posix -std=c++17 ${cflags[*]} ${icu_defs[*]} -I$src/common -c \$in -o \$out"
    echo "rule ar"
    echo "  command = rm -f \$out && $triple-ar rcs \$out \$in"
    local objs=() f o
    for f in "$src"/common/*.cpp; do
      o=common/$(basename "${f%.cpp}").o; objs+=("$o")
      echo "build $o: cxx $f"
    done
    echo "build libicuuc.a: ar ${objs[*]}"
    echo "build stubdata/stubdata.o: cxx $src/stubdata/stubdata.cpp"
    echo "build libicudata.a: ar stubdata/stubdata.o"
  } >"$b/build.ninja"
  "${heavy[@]}" ninja -C "$b" -j "$jobs"
  cp "$b/libicuuc.a" "$b/libicudata.a" "$prefix/lib/"
  mkdir -p "$prefix/include/unicode"
  cp "$src"/common/unicode/*.h "$prefix/include/unicode/"
  local v; v=$(sed -n 's/^#define U_ICU_VERSION "\(.*\)"/\1/p' "$src/common/unicode/uvernum.h")
  cat >"$prefix/lib/pkgconfig/icu-uc.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: icu-uc
Description: ICU's common library, static, with no data file (Debian's icu $icu_ver, cross-built)
Version: $v
Libs: -L\${libdir} -licuuc -licudata
Libs.private: -ladvapi32
Cflags: -I\${includedir} -DU_STATIC_IMPLEMENTATION
EOF
}

# libmdb alone, static, with mdbtools' own small stand-in for GLib (what
# configure's --disable-glib gives) and the product's own iconv for Windows (migration/windows_iconv).
mdb_defs=(-DHAVE_ICONV -DICONV_CONST= -DTLS=__thread)
mdb_iconv=$here/../../migration/windows_iconv

build_mdbtools() {
  local src=$work/mdbtools sum size file
  mkdir -p "$src"
  while read -r sum size file; do
    case $file in
      *.orig.tar.*) tar -xf "$sources/$file" -C "$src" --strip-components=1 ;;
      *.debian.tar.*) tar -xf "$sources/$file" -C "$src" ;;
    esac
  done <<<"$mdb_sums"
  # Debian's patches in the order of their quilt series (1.0.1-0.1 has none).
  if [ -f "$src/debian/patches/series" ]; then
    local p opts
    sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$src/debian/patches/series" | while read -r p opts; do
      patch -d "$src" ${opts:--p1} <"$src/debian/patches/$p"
    done
  fi
  # The tarball is a snapshot without configure (Debian runs autoreconf);
  # what configure substitutes for a mingw host with iconv and without GLib
  # is set here, and a small generated ninja file builds libmdb, as for ICU.
  local upstream=${mdb_ver%-*} b=$work/mdb-build
  mkdir -p "$b/include" "$b/obj"
  sed -e 's/@HAVE_ICONV_H@/1/' -e 's/@HAVE_XLOCALE_H@/0/' -e 's/@GLIB_INCLUDE_HEADER@/mdbfakeglib.h/' \
    -e 's/@LOCALE_T@/_locale_t/' "$src/include/mdbtools.h.in" >"$b/include/mdbtools.h"
  sed -e 's/@PACKAGE@/mdbtools/' -e "s/@VERSION@/$upstream/" "$src/include/mdbver.h.in" >"$b/include/mdbver.h"
  ! grep -n '@[A-Z_]*@' "$b/include/mdbtools.h" "$b/include/mdbver.h"
  # The sources of libmdb.la in its Makefile.am, then the GLib stand-in.
  local files f objs=()
  files=$(sed -n 's/^libmdb_la_SOURCES[[:space:]]*=//p' "$src/src/libmdb/Makefile.am")
  [ -n "$files" ]
  {
    echo "rule cc"
    echo "  command = $triple-gcc-posix ${cflags[*]} ${mdb_defs[*]} -I$b/include -I$src/include -I$mdb_iconv -c \$in -o \$out"
    echo "rule ar"
    echo "  command = rm -f \$out && $triple-ar rcs \$out \$in"
    for f in $files fakeglib.c; do
      objs+=("obj/${f%.c}.o")
      echo "build obj/${f%.c}.o: cc $src/src/libmdb/$f"
    done
    objs+=(obj/windows-iconv.o)
    echo "build obj/windows-iconv.o: cc $mdb_iconv/iconv.c"
    echo "build libmdb.a: ar ${objs[*]}"
  } >"$b/build.ninja"
  "${heavy[@]}" ninja -C "$b" -j "$jobs"
  # The headers in a folder of their own: iconv.h is for libmdb's users only.
  local inc=$prefix/include/libmdb
  rm -rf "$inc" && mkdir -p "$inc"
  cp "$b/libmdb.a" "$prefix/lib/"
  cp "$b/include/mdbtools.h" "$b/include/mdbver.h" "$src/include/mdbfakeglib.h" "$mdb_iconv/iconv.h" "$inc/"
  cat >"$prefix/lib/pkgconfig/libmdb.pc" <<EOF
prefix=$prefix
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: libmdb
Description: MDB file library, static, with mdbtools' GLib stand-in and an iconv on Windows code pages (Debian's mdbtools $mdb_ver, cross-built)
Version: $upstream
Libs: -L\${libdir} -lmdb
Cflags: -I\${includedir}/libmdb
EOF
}

# zlib as a static library only, named as FindZLIB looks for it (Debian's
# tarball has no win32 resources, which only the DLL needs).
build_zlib() {
  local src; src=$(unpack zlib "$zlib_ver")
  cmake -S "$src" -B "$work/zlib-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" "${zlib_opts[@]}"
  "${heavy[@]}" cmake --build "$work/zlib-build" -j "$jobs" --target zlibstatic
  cp "$src/zlib.h" "$work/zlib-build/zconf.h" "$prefix/include/"
  cp "$work/zlib-build/libzlibstatic.a" "$prefix/lib/libz.a"
}

build_freetype() {
  local src; src=$(unpack freetype "$freetype_ver")
  cmake -S "$src" -B "$work/freetype-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${freetype_opts[@]}"
  "${heavy[@]}" cmake --build "$work/freetype-build" -j "$jobs"
  cmake --install "$work/freetype-build"
}

# The library alone: qpdf's programs, tests and examples are not needed.
build_qpdf() {
  local src; src=$(unpack qpdf "$qpdf_ver")
  cmake -S "$src" -B "$work/qpdf-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
    -DKALDORIA_WINDOWS_PREFIX="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" "${qpdf_opts[@]}"
  "${heavy[@]}" cmake --build "$work/qpdf-build" -j "$jobs" --target libqpdf
  # Headers and libqpdf.pc are "dev"; on Windows the DLL, its import library
  # and the CMake package fall outside qpdf's components. ("lib" holds only
  # the mingw runtime DLLs qpdf.exe would need, which deploy.sh copies.)
  cmake --install "$work/qpdf-build" --component dev
  cmake --install "$work/qpdf-build" --component Unspecified
  [ -f "$prefix/bin/qpdf29.dll" ] && [ -f "$prefix/lib/libqpdf.a" ]  # the import library
}

build_poppler() {
  local src; src=$(unpack poppler "$poppler_ver")
  cmake -S "$src" -B "$work/poppler-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
    -DKALDORIA_WINDOWS_PREFIX="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" "${poppler_opts[@]}"
  "${heavy[@]}" cmake --build "$work/poppler-build" -j "$jobs"
  cmake --install "$work/poppler-build"
}

# --- The key ----------------------------------------------------------------
compiler_id=$("$triple-g++-posix" --version | head -1)
hash_of() { printf '%s\n' "$@" | sha256sum | cut -c1-12; }
toolchain_hash=$(hash_of "$compiler_id" "$(cat "$repo/cmake/mingw-w64.cmake")")
h_qt=$(hash_of "$qt_ver" "${qt_opts[@]}" "$(declare -f build_qt)" "$toolchain_hash")
h_jpeg=$(hash_of "$jpeg_ver" "${jpeg_opts[@]}" "$(declare -f build_libjpeg)" "$toolchain_hash")
h_formats=$(hash_of "$h_qt" "$h_jpeg" "$(declare -f build_qt_imageformats)" \
  "$(cat "$here/imageformats/CMakeLists.txt")")
h_sqlite=$(hash_of "$sqlite_ver" "${sqlite_defs[@]}" "${cflags[@]}" "$(declare -f build_sqlite)" "$toolchain_hash")
h_ssl=$(hash_of "$ssl_ver" "${ssl_opts[@]}" "${ssl_dirs[@]}" "$(declare -f build_openssl)" "$toolchain_hash")
h_pg=$(hash_of "$pg_ver" "${pg_opts[@]}" "$h_ssl" "$(declare -f build_libpq)" "$toolchain_hash")
h_icu=$(hash_of "$icu_ver" "${icu_defs[@]}" "${cflags[@]}" "$(declare -f build_icu)" "$toolchain_hash")
h_mdb=$(hash_of "$mdb_ver" "$mdb_sums" "${mdb_defs[@]}" "${cflags[@]}" "$(declare -f build_mdbtools)" \
  "$(cat "$mdb_iconv/iconv.h" "$mdb_iconv/iconv.c")" "$toolchain_hash")
h_zlib=$(hash_of "$zlib_ver" "${zlib_opts[@]}" "$(declare -f build_zlib)" "$toolchain_hash")
h_freetype=$(hash_of "$freetype_ver" "${freetype_opts[@]}" "$(declare -f build_freetype)" "$toolchain_hash")
h_qpdf=$(hash_of "$qpdf_ver" "${qpdf_opts[@]}" "$h_zlib" "$h_jpeg" "$h_ssl" "$(declare -f build_qpdf)" "$toolchain_hash")
h_poppler=$(hash_of "$poppler_ver" "${poppler_opts[@]}" "$h_qt" "$h_zlib" "$h_jpeg" "$h_freetype" \
  "$(declare -f build_poppler)" "$toolchain_hash")

# The upstream versions name the key (the hash holds Debian's revisions and
# everything else): the prefix's bin folder must stay well under Windows'
# 260 characters, or Windows programs started from it are not found there.
upstream() { local v=${1#*:}; v=${v%%-*}; echo "${v%%+*}"; }
key="qt$(upstream "$qt_ver")-sqlite$(upstream "$sqlite_ver")-ssl$(upstream "$ssl_ver")-pq$(upstream "$pg_ver")"
key+="-icu$(upstream "$icu_ver")-mdb$(upstream "$mdb_ver")-qpdf$(upstream "$qpdf_ver")-poppler$(upstream "$poppler_ver")"
key+=".$(hash_of "$h_qt" "$h_jpeg" "$h_formats" "$h_sqlite" "$h_ssl" "$h_pg" "$h_icu" "$h_mdb" "$h_zlib" "$h_freetype" "$h_qpdf" "$h_poppler")"
key=${key//[:~]/_}
dir=$cache/$key
prefix=$dir/prefix

if [ "$mode" = print ]; then
  [ -f "$dir/stamp" ] || die "no finished toolchain for $key; run $0"
  echo "$prefix"
  exit 0
fi
if [ -f "$dir/stamp" ]; then
  say "reusing $dir"
  exit 0
fi

# --- The seed ---------------------------------------------------------------
seed=${KALDORIA_WINDOWS_SEED-$repo/../shared/windows/toolchain-seed/toolchain-seed.tar.xz}
# Unpacks the seed into the cache, once: its one folder is a finished build of
# some key, found below like any other. A seed that is missing is no fault
# (everything is built); one whose SHA-256 differs from the recorded one is
# not used, and said so.
unpack_seed() {
  [ -n "$seed" ] || return 0
  if [ ! -f "$seed" ]; then say "no seed at $seed; building every part"; return 0; fi
  local want got top
  want=$(cut -d' ' -f1 "$here/toolchain-seed.sha256")
  got=$(sha256sum "$seed" | cut -d' ' -f1)
  if [ "$got" != "$want" ]; then
    say "the seed $seed has SHA-256 $got, not the $want that $here/toolchain-seed.sha256 names; not using it"
    return 0
  fi
  top=$(tar -tJf "$seed" | cut -d/ -f1 | sort -u)
  [ -n "$top" ] && [ "$(wc -l <<<"$top")" -eq 1 ] && [ "${top#.}" = "$top" ] ||
    die "the seed $seed does not hold one folder named after a key"
  [ -f "$cache/$top/stamp" ] && return 0
  say "unpacking the seed ($(basename "$seed"), key $top)"
  rm -rf "$cache/.seed" && mkdir "$cache/.seed"
  tar -xJf "$seed" -C "$cache/.seed"
  [ -f "$cache/.seed/$top/stamp" ] || die "the seed $seed has no finished build (no $top/stamp)"
  rm -rf "${cache:?}/$top" && mv "$cache/.seed/$top" "$cache/$top" && rmdir "$cache/.seed"
}

say "building into $dir"
# A new key whose parts are partly built already under another key (one
# option of one part changed, or the seed is of an older key): start from
# the finished build that shares the most parts, copying its prefix and the
# stamps of the shared parts, so only the changed parts build again. Each
# part installs the same files, so a rebuilt part replaces its older files.
stamps=(qtbase.$h_qt libjpeg-turbo.$h_jpeg qt-imageformats.$h_formats sqlite3.$h_sqlite
  openssl.$h_ssl libpq.$h_pg icu.$h_icu mdbtools.$h_mdb zlib.$h_zlib freetype.$h_freetype qpdf.$h_qpdf poppler.$h_poppler)
if [ ! -d "$dir/parts" ]; then
  unpack_seed
  best="" best_count=0
  for other in "$cache"/*/stamp; do
    [ -f "$other" ] || continue
    other=$(dirname "$other") count=0
    for stamp in "${stamps[@]}"; do [ -f "$other/parts/$stamp" ] && count=$((count + 1)); done
    if [ "$count" -gt "$best_count" ]; then best=$other best_count=$count; fi
  done
  if [ -n "$best" ]; then
    say "starting from the $best_count parts already built in $(basename "$best")"
    mkdir -p "$dir/parts"
    cp -a "$best/prefix" "$prefix"
    for stamp in "${stamps[@]}"; do
      [ -f "$best/parts/$stamp" ] && touch "$dir/parts/$stamp"
    done
    for stamp in "${stamps[@]}"; do
      [ -f "$best/parts/$stamp" ] || continue
      sed -n "s/^\((reused) \)*\(${stamp%.*} wall \)/(reused) \2/p" "$best/logs/times.txt" 2>/dev/null
    done >"$dir/times.reused"
  fi
fi
mkdir -p "$prefix/bin" "$prefix/lib/pkgconfig" "$prefix/include" "$dir/logs" "$dir/parts"
[ -f "$dir/times.reused" ] && mv "$dir/times.reused" "$dir/logs/times.txt"
work=$dir/work
mkdir -p "$work"

# Unpacks a downloaded source package with Debian's patches applied;
# prints the unpacked folder.
unpack() {
  local pkg=$1 ver=$2 dsc
  dsc=$(dsc_of "$pkg" "$ver")
  rm -rf "$work/$pkg"
  dpkg-source -q -x "$dsc" "$work/$pkg" >&2
  echo "$work/$pkg"
}

# Runs one part unless its stamp says it is already installed; its output
# goes to logs/<part>.log, its wall and CPU time to logs/times.txt. The part
# runs in a background subshell so that `set -e` holds inside it.
part() {
  local name=$1 hash=$2 fn=$3 t0
  if [ -f "$dir/parts/$name.$hash" ]; then say "$name: already installed"; return; fi
  say "$name: building (log: $dir/logs/$name.log)"
  t0=$(date +%s)
  (
    TIMEFORMAT="$name wall %R s, user %U s, sys %S s"
    { time "$fn" >"$dir/logs/$name.log" 2>&1 ; } 2>>"$dir/logs/times.txt"
  ) &
  if ! wait $!; then
    tail -n 30 "$dir/logs/$name.log" >&2
    die "$name failed after $(( $(date +%s) - t0 )) s; see $dir/logs/$name.log"
  fi
  rm -rf "${work:?}/"*
  touch "$dir/parts/$name.$hash"
  say "$(tail -n 1 "$dir/logs/times.txt")"
}

part qtbase "$h_qt" build_qt
part libjpeg-turbo "$h_jpeg" build_libjpeg
part qt-imageformats "$h_formats" build_qt_imageformats
part sqlite3 "$h_sqlite" build_sqlite
part openssl "$h_ssl" build_openssl
part libpq "$h_pg" build_libpq
part icu "$h_icu" build_icu
part mdbtools "$h_mdb" build_mdbtools
part zlib "$h_zlib" build_zlib
part freetype "$h_freetype" build_freetype
part qpdf "$h_qpdf" build_qpdf
part poppler "$h_poppler" build_poppler

rmdir "$work"
# pkg-config files name the prefix relative to themselves, so the cache may
# be moved (KALDORIA_WINDOWS_CACHE) without building again.
sed -i -e "s|^prefix=.*|prefix=\${pcfiledir}/../..|" -e "s|$prefix|\${prefix}|g" "$prefix"/lib/pkgconfig/*.pc
{
  echo "key $key"
  echo "built $(date -u +%FT%TZ) on $(nproc) cores"
  cat "$dir/logs/times.txt"
} >"$dir/stamp.tmp"
mv "$dir/stamp.tmp" "$dir/stamp"
say "done: $prefix ($(du -sh "$prefix" | cut -f1))"
