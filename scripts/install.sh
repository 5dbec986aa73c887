#!/usr/bin/env bash
# Per-user install of Kaldoria, and its removal (`make install`, `make uninstall`).
#
#   scripts/install.sh BUILD_DIR     copies kaldoria and kaldoria-db from BUILD_DIR
#   scripts/install.sh --uninstall   removes everything installed except the database
#
# The programs get a folder of their own, ${XDG_DATA_HOME:-~/.local/share}/kaldoria,
# because Kaldoria keeps dojang.mdb beside its executable and writes temp.bmp
# there: the folder must stay writable by the user. A database is made there
# (with the sample stamp) only when none exists; nothing ever replaces or
# removes an existing one. An icon and a desktop entry make it startable from
# the desktop's menu.
#
# kaldoria-db is also put on the PATH as ~/.local/bin/kaldoria-db, a symbolic
# link to the installed copy: a link always runs the copy that is installed
# now (no wrapper to keep in step), the program still finds its folder through
# the link (Qt resolves /proc/self/exe), and "is it ours" is a plain question
# of where it points, so uninstall never removes someone else's kaldoria-db.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
data="${XDG_DATA_HOME:-$HOME/.local/share}"
app="$data/kaldoria"
icon="$data/icons/hicolor/scalable/apps/kaldoria.svg"
entry="$data/applications/kaldoria.desktop"
bin="$HOME/.local/bin"
command_link="$bin/kaldoria-db"

# True when the command on the PATH is our link to the installed copy.
ours() { [ -L "$command_link" ] && [ "$(readlink "$command_link")" = "$app/kaldoria-db" ]; }

refresh_menu() {
  if command -v update-desktop-database >/dev/null; then
    update-desktop-database -q "$data/applications" 2>/dev/null || true
  fi
}

# A path as one quoted argument of a desktop entry's Exec key: ", `, $ and \
# escaped inside double quotes, % doubled, then \ doubled once more because
# the key's value is itself an escaped string.
exec_argument() {
  local quoted
  quoted="$(printf '%s' "$1" | sed -e 's/[\\"`$]/\\&/g' -e 's/%/%%/g')"
  printf '"%s"' "$quoted" | sed -e 's/\\/\\\\/g'
}

# A path as a plain string value of a desktop entry.
string_value() { printf '%s' "$1" | sed -e 's/\\/\\\\/g'; }

if [ "${1:-}" = "--uninstall" ]; then
  if ours; then rm -f "$command_link"; fi
  rm -f "$app/kaldoria" "$app/kaldoria-db" "$app/temp.bmp" "$icon" "$entry"
  rmdir "$app" 2>/dev/null || true  # stays as long as it holds the database
  refresh_menu
  if [ -e "$app/dojang.mdb" ]; then
    echo "Kaldoria removed; the database stays at $app/dojang.mdb"
  else
    echo "Kaldoria removed"
  fi
  exit 0
fi

build="${1:?usage: scripts/install.sh BUILD_DIR | --uninstall}"
for program in kaldoria kaldoria-db; do
  [ -x "$build/$program" ] || { echo "install: $build/$program is missing; run make first" >&2; exit 1; }
done
case "$app" in
  *$'\n'* | *$'\r'*) echo "install: cannot install under a folder whose name holds a line break: $app" >&2; exit 1 ;;
esac

mkdir -p "$app"
# install(1) replaces the file rather than writing into it, so a running copy keeps working.
install -m 755 "$build/kaldoria" "$app/kaldoria"
install -m 755 "$build/kaldoria-db" "$app/kaldoria-db"
if [ ! -e "$app/dojang.mdb" ]; then
  "$app/kaldoria-db" create "$app/dojang.mdb" --sample
fi
install -D -m 644 "$root/tools/desktop/kaldoria.svg" "$icon"

mkdir -p "$(dirname "$entry")"
tmp="$(mktemp "$entry.XXXXXX")"
cat >"$tmp" <<ENTRY
[Desktop Entry]
Type=Application
Name=Kaldoria
Name[ko]=도장 관리 Kaldoria
GenericName=Stamp images
GenericName[ko]=도장 그림 관리
Comment=Keeps images of stamps in a local database
Comment[ko]=도장 그림을 데이터베이스에 보관합니다
Exec=$(exec_argument "$app/kaldoria")
Path=$(string_value "$app")
Icon=$(string_value "$icon")
Terminal=false
Categories=Graphics;Office;
ENTRY
chmod 644 "$tmp"
mv -f "$tmp" "$entry"
refresh_menu
echo "Kaldoria installed in $app (menu: 도장 관리 Kaldoria)"

# The command on the PATH. A kaldoria-db there that is not our link (another
# program, the user's own script) is left as it is.
mkdir -p "$bin"
if ours; then
  :
elif [ -e "$command_link" ] || [ -L "$command_link" ]; then
  echo "install: $command_link already exists and is not Kaldoria's; left as it is." >&2
  echo "install: kaldoria-db is at $app/kaldoria-db" >&2
else
  ln -s "$app/kaldoria-db" "$command_link"
fi
if ours; then
  case ":$PATH:" in
    *":$bin:"* | *":$bin/:"*) echo "kaldoria-db: $command_link" ;;
    *)
      echo "kaldoria-db: $command_link — $bin is not on your PATH; add this line to ~/.profile and log in again:"
      # Printed as it is to be pasted: $HOME and $PATH unexpanded.
      printf '  export PATH="$HOME/.local/bin:$PATH"\n'
      ;;
  esac
fi
