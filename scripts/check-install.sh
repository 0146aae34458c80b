#!/usr/bin/env bash
# Checks that Calvora installs the way a Linux desktop expects, and builds and inspects its .deb:
#
#   scripts/check-install.sh BUILD_DIR
#
# BUILD_DIR is configured for packaging (Release, no tests, no benchmarks) when it holds no build
# yet; an existing one is used as it is, but not one built with sanitizers. The script builds it, installs it
# into a scratch DESTDIR under /usr, checks the tree, validates the menu entry, the MIME file and the
# manual pages, checks the user manual's local links, asks xdg-mime (in an environment that sees only the
# scratch tree) what a recording written by the installed tools is and which program opens it, and finally
# builds the .deb with CPack and checks its contents and control files. Exits non-zero on any failure.
#
# Needs the Debian packages cmake, ninja-build, dpkg-dev, desktop-file-utils, libxml2-utils,
# shared-mime-info, xdg-utils, libfile-mimeinfo-perl, man-db, groff-base, librsvg2-bin.
set -uo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
cd "$(dirname "$0")/.." || exit 2
source_dir=$PWD
build=$(realpath -m "$1")
started=$SECONDS
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }

app_id=io.github.calvora.Calvora
mime_type=application/x-calvora-recorder
mime_icon=application-x-calvora-recorder
icon_sizes=(16 22 24 32 48 64 128 256)
pages=(calvora calvora-cli calvora-sim)
programs=(calvora calvora-cli calvora-sim)

# ------------------------------------------------------------------------------------------ tools
declare -A tool_package=(
  [cmake]=cmake [cpack]=cmake [ninja]=ninja-build [dpkg-deb]=dpkg [dpkg-shlibdeps]=dpkg-dev
  [desktop-file-validate]=desktop-file-utils [update-desktop-database]=desktop-file-utils
  [xmllint]=libxml2-utils [update-mime-database]=shared-mime-info [xdg-mime]=xdg-utils
  [mimetype]=libfile-mimeinfo-perl [man]=man-db [groff]=groff-base [rsvg-convert]=librsvg2-bin
)
missing=()
for tool in "${!tool_package[@]}"; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("${tool_package[$tool]}")
done
if ((${#missing[@]})); then
  echo "Missing tools; install: $(printf '%s\n' "${missing[@]}" | sort -u | tr '\n' ' ')" >&2
  exit 2
fi

# ------------------------------------------------------------------------------------------ build
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCALVORA_BUILD_BENCH=OFF >"$build.configure.log" 2>&1 || {
    cat "$build.configure.log" >&2
    exit 1
  }
  rm -f "$build.configure.log"
fi
if grep -Eq '^CALVORA_SANITIZE:[A-Z]+=.+' "$build/CMakeCache.txt"; then
  echo "$build is a sanitizer build; a package needs a plain one" >&2
  exit 2
fi
# CPack installs from the build folder after building all of it, so build all of it here.
cmake --build "$build" || exit 1

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
stage=$scratch/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log" >&2; fail "cmake --install"; exit 1; }
share=$stage/usr/share
docdir=$share/doc/calvora
# What the install put there, before the desktop databases below add their caches.
(cd "$stage" && find . -type f -printf '%P\n' | sort) >"$scratch/installed"

# ------------------------------------------------------------------------------------- the tree
expect_file() {
  if [[ -f $stage/$1 ]]; then pass "$1"; else fail "missing $1"; fi
}
for program in "${programs[@]}"; do
  if [[ -x $stage/usr/bin/$program ]]; then pass "usr/bin/$program"; else fail "usr/bin/$program not installed"; fi
done
unexpected=$(find "$stage/usr/bin" -mindepth 1 -maxdepth 1 -printf '%f\n' | grep -vxF -e calvora -e calvora-cli -e calvora-sim)
[[ -z $unexpected ]] || fail "usr/bin holds more than the programs: $unexpected"
expect_file usr/share/doc/calvora/calvora-help.html
expect_file usr/share/applications/$app_id.desktop
expect_file usr/share/mime/packages/$app_id.xml
expect_file usr/share/icons/hicolor/scalable/apps/$app_id.svg
expect_file usr/share/icons/hicolor/scalable/mimetypes/$mime_icon.svg
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{ print $1*16777216+$2*65536+$3*256+$4 "x" $5*16777216+$6*65536+$7*256+$8 }'; }
for size in "${icon_sizes[@]}"; do
  for icon in apps/$app_id mimetypes/$mime_icon; do
    png=usr/share/icons/hicolor/${size}x${size}/$icon.png
    if [[ ! -f $stage/$png ]]; then
      fail "missing $png"
    elif [[ $(png_size "$stage/$png") != "${size}x${size}" ]]; then
      fail "$png is $(png_size "$stage/$png"), not ${size}x${size}"
    else
      pass "$png"
    fi
  done
done
for page in "${pages[@]}"; do expect_file "usr/share/man/man1/$page.1.gz"; done
expect_file usr/lib/udev/rules.d/70-calvora-receiver.rules

# --------------------------------------------------------------------- menu entry and file type
desktop=$share/applications/$app_id.desktop
if out=$(desktop-file-validate "$desktop" 2>&1) && [[ -z $out ]]; then
  pass "desktop-file-validate"
else
  fail "desktop-file-validate: $out"
fi
mime_xml=$share/mime/packages/$app_id.xml
if xmllint --noout "$mime_xml"; then pass "MIME XML is well-formed"; else fail "MIME XML is not well-formed"; fi
schema=""
for candidate in /usr/share/xml/shared-mime-info/shared-mime-info.rng /usr/share/shared-mime-info/shared-mime-info.rng \
  /usr/share/mime/shared-mime-info.rng; do
  [[ -f $candidate ]] && schema=$candidate && break
done
if [[ -n $schema ]]; then
  if xmllint --noout --relaxng "$schema" "$mime_xml"; then pass "MIME XML is valid"; else fail "MIME XML against $schema"; fi
else
  echo "note: no shared-mime-info schema on this system; update-mime-database checks the content below"
fi

# A desktop that sees only the scratch tree: no running session, no user files, no system data.
home=$scratch/home
mkdir -p "$home/config" "$home/data" "$home/state" "$home/xdg"
clean_env=(env -i PATH="$PATH" HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_CONFIG_DIRS="$home/xdg"
  XDG_DATA_HOME="$home/data" XDG_DATA_DIRS="$share" XDG_STATE_HOME="$home/state" LANG=C.UTF-8)
if out=$("${clean_env[@]}" update-mime-database "$share/mime" 2>&1) && [[ -z $out ]]; then
  pass "update-mime-database"
else
  fail "update-mime-database: $out"
fi
if out=$("${clean_env[@]}" update-desktop-database "$share/applications" 2>&1) && [[ -z $out ]]; then
  pass "update-desktop-database"
else
  fail "update-desktop-database: $out"
fi

# A recording made by the installed tools: a simulated capture, recorded by calvora-cli.
samples=$scratch/samples
mkdir -p "$samples"
if ! "${clean_env[@]}" "$stage/usr/bin/calvora-sim" --capture "$samples/meter.bin" --count 12 --waveform ramp >/dev/null ||
  ! "${clean_env[@]}" "$stage/usr/bin/calvora-cli" record --input "$samples/meter.bin" --samples 10 \
    --out "$samples/bench run" >/dev/null; then
  fail "the installed calvora-sim and calvora-cli could not make a recording"
fi
cp "$samples/bench run.recorder" "$samples/no-extension" 2>/dev/null
query_type() { "${clean_env[@]}" xdg-mime query filetype "$1" 2>&1; }
for file in "bench run.recorder" no-extension; do
  got=$(query_type "$samples/$file")
  if [[ $got == "$mime_type" ]]; then pass "xdg-mime filetype of '$file': $got"; else fail "filetype of '$file': $got"; fi
done
got=$(query_type "$samples/bench run.csv")
if [[ -n $got && $got != "$mime_type" ]]; then pass "the text export is not a recording ($got)"; else fail "filetype of the .csv: $got"; fi
got=$("${clean_env[@]}" xdg-mime query default "$mime_type" 2>&1)
if [[ $got == "$app_id.desktop" ]]; then pass "xdg-mime default for $mime_type: $got"; else fail "default application: '$got'"; fi

# --------------------------------------------------------------------------------- manual pages
for page in "${pages[@]}"; do
  file=$share/man/man1/$page.1.gz
  [[ -f $file ]] || continue
  warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$file" 2>&1 >/dev/null)
  if [[ -n $warnings ]]; then fail "man $page: $warnings"; else pass "man --warnings $page.1"; fi
  if ! MANWIDTH=80 man -l "$file" 2>/dev/null | grep -q "^EXIT STATUS"; then fail "man $page renders no EXIT STATUS"; fi
done

# ----------------------------------------------------------------------------------- user manual
manual=$docdir/calvora-help.html
if [[ -f $manual ]]; then
  ids=$(grep -o -E '\bid="[^"]*"' "$manual" | sed -E 's/^id="(.*)"$/\1/')
  links=0
  while IFS= read -r target; do
    [[ -z $target || $target =~ ^(https?|mailto): ]] && continue
    links=$((links + 1))
    file=${target%%#*}
    if [[ -n $file && ! -f $docdir/$file ]]; then
      fail "the manual links to $target, which is not installed beside it"
    fi
    if [[ $target == *#* && ( -z $file || $file == calvora-help.html ) ]] && ! grep -qxF -- "${target#*#}" <<<"$ids"; then
      fail "the manual links to $target, which names no id"
    fi
  done < <(grep -o -E '\b(href|src)="[^"]*"' "$manual" | sed -E 's/^[a-z]+="(.*)"$/\1/')
  pass "the manual's $links local links"
fi

# ---------------------------------------------------------------------------------- the package
debs=$scratch/deb
mkdir -p "$debs"
if (cd "$build" && cpack -G DEB -B "$debs" >"$scratch/cpack.log" 2>&1); then
  pass "cpack -G DEB"
else
  cat "$scratch/cpack.log" >&2
  fail "cpack -G DEB"
fi
deb=$(find "$debs" -maxdepth 1 -name 'calvora_*.deb' | head -n 1)
if [[ -n $deb ]]; then
  echo "package: $(basename "$deb")"
  dpkg-deb -c "$deb" >"$scratch/contents"
  # Every file of the DESTDIR tree is in the package, at the same place.
  while IFS= read -r path; do
    grep -qE " \./${path//./\\.}( |$)" "$scratch/contents" || fail "the package lacks /$path"
  done <"$scratch/installed"
  pass "the package holds the $(wc -l <"$scratch/installed") installed files"
  [[ $(dpkg-deb -f "$deb" Package) == calvora ]] || fail "package name is $(dpkg-deb -f "$deb" Package)"
  version=$(sed -nE 's/^project\(Calvora VERSION ([0-9.]+).*/\1/p' "$source_dir/CMakeLists.txt")
  [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version $(dpkg-deb -f "$deb" Version), not $version"
  depends=$(dpkg-deb -f "$deb" Depends)
  for library in libc6 libqt6widgets6 libudev1 libinih1; do
    [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
  done
  echo "Depends: $depends"
  control=$(dpkg-deb -I "$deb")
  for script in postinst postrm; do
    grep -qE "^ +[0-9]+ bytes, +[0-9]+ lines +\* +$script " <<<"$control" || fail "no executable $script in the package"
  done
  pass "package control fields and maintainer scripts"
else
  fail "cpack made no calvora_*.deb"
fi

echo "check-install: $((SECONDS - started)) s, $failures failure(s)"
((failures == 0))
