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
manager_entry="$data/applications/kaldoria-manager.desktop"
bin="$HOME/.local/bin"
command_link="$bin/kaldoria-db"
# Beside ~/.local/bin, where man(1) looks for the pages of the commands on the PATH.
man_folder="$HOME/.local/share/man/man1"
man_pages=(kaldoria.1 kaldoria-db.1 kaldoria-manager.1)

# Messages in the user's language: Korean when the locale says so.
korean=false
case "${LC_ALL:-${LC_MESSAGES:-${LANG:-}}}" in ko*) korean=true ;; esac
say() { if $korean; then printf '%s\n' "$1"; else printf '%s\n' "$2"; fi; }
complain() { say "$1" "$2" >&2; }

# True when a login of this user puts ~/.local/bin on the PATH by itself
# (Debian's ~/.profile does once the folder exists): logging in again is
# then all the PATH needs.
login_adds_local_bin() {
  local file
  for file in "$HOME/.bash_profile" "$HOME/.bash_login" "$HOME/.profile"; do
    if [ -f "$file" ]; then
      grep -q '\.local/bin' "$file" && return 0
      # bash reads only the first of these that exists, unless it reads on.
      case "$file" in *.profile) ;; *) grep -q '\.profile' "$file" || return 1 ;; esac
    fi
  done
  return 1
}

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
  rm -f "$app/kaldoria" "$app/kaldoria-db" "$app/kaldoria-manager" "$app/temp.bmp" "$icon" "$entry" "$manager_entry"
  for page in "${man_pages[@]}"; do rm -f "$man_folder/$page"; done
  rmdir "$app" 2>/dev/null || true  # stays as long as it holds the database
  refresh_menu
  if [ -e "$app/dojang.mdb" ]; then
    say "Kaldoria를 지웠습니다. 도장 데이터베이스는 $app/dojang.mdb에 그대로 있습니다." \
        "Kaldoria removed; the database stays at $app/dojang.mdb"
  else
    say "Kaldoria를 지웠습니다." "Kaldoria removed"
  fi
  exit 0
fi

build="${1:?usage: scripts/install.sh BUILD_DIR | --uninstall}"
for program in kaldoria kaldoria-db kaldoria-manager; do
  [ -x "$build/$program" ] || {
    complain "install: $build/$program 파일이 없습니다. 먼저 make로 빌드하십시오." \
             "install: $build/$program is missing; run make first"
    exit 1
  }
done
case "$app" in
  *$'\n'* | *$'\r'*)
    complain "install: 이름에 줄바꿈이 든 폴더에는 설치할 수 없습니다: $app" \
             "install: cannot install under a folder whose name holds a line break: $app"
    exit 1 ;;
esac

mkdir -p "$app"
# install(1) replaces the file rather than writing into it, so a running copy keeps working.
install -m 755 "$build/kaldoria" "$app/kaldoria"
install -m 755 "$build/kaldoria-db" "$app/kaldoria-db"
install -m 755 "$build/kaldoria-manager" "$app/kaldoria-manager"
if [ ! -e "$app/dojang.mdb" ]; then
  "$app/kaldoria-db" create "$app/dojang.mdb" --sample
fi
install -D -m 644 "$root/tools/desktop/kaldoria.svg" "$icon"

# write_entry FILE PROGRAM NAME NAME-KO GENERIC GENERIC-KO COMMENT COMMENT-KO:
# a desktop entry made whole beside FILE and then given its name.
write_entry() {
  local file=$1 program=$2 tmp
  mkdir -p "$(dirname "$file")"
  tmp="$(mktemp "$file.XXXXXX")"
  cat >"$tmp" <<ENTRY
[Desktop Entry]
Type=Application
Name=$3
Name[ko]=$4
GenericName=$5
GenericName[ko]=$6
Comment=$7
Comment[ko]=$8
Exec=$(exec_argument "$app/$program")
Path=$(string_value "$app")
Icon=$(string_value "$icon")
Terminal=false
Categories=Office;
ENTRY
  chmod 644 "$tmp"
  mv -f "$tmp" "$file"
}
write_entry "$entry" kaldoria Kaldoria "도장 관리 Kaldoria" "Stamp images" "도장 그림 관리" \
  "Keeps images of stamps in a local database" "도장 그림을 데이터베이스에 보관합니다"
write_entry "$manager_entry" kaldoria-manager "Kaldoria Manager" "도장 관리" "Stamp keeper" \
  "도장 보기, 되돌리기, 문서용 도장" "Every stored stamp: add, replace, restore, copy for documents" \
  "저장된 도장을 보고, 추가하고, 되돌리고, 문서용으로 복사합니다"
refresh_menu
for page in "${man_pages[@]}"; do install -D -m 644 "$root/docs/man/$page" "$man_folder/$page"; done
say "Kaldoria를 $app에 설치했습니다 (메뉴: 도장 관리 Kaldoria와 도장 관리, 설명서: man kaldoria, man kaldoria-db, man kaldoria-manager)." \
    "Kaldoria installed in $app (menu: 도장 관리 Kaldoria and 도장 관리; manual: man kaldoria, man kaldoria-db, man kaldoria-manager)"

# The command on the PATH. A kaldoria-db there that is not our link (another
# program, the user's own script) is left as it is.
mkdir -p "$bin"
if ours; then
  :
elif [ -e "$command_link" ] || [ -L "$command_link" ]; then
  complain "install: $command_link는 Kaldoria의 것이 아니라서 그대로 두었습니다. kaldoria-db는 $app/kaldoria-db에 있습니다." \
           "install: $command_link already exists and is not Kaldoria's; left as it is. kaldoria-db is at $app/kaldoria-db"
else
  ln -s "$app/kaldoria-db" "$command_link"
fi
if ours; then
  case ":$PATH:" in
    *":$bin:"* | *":$bin/:"*) echo "kaldoria-db: $command_link" ;;
    *)
      if login_adds_local_bin; then
        say "kaldoria-db: $command_link — 로그아웃했다가 다시 로그인하면 어느 터미널에서나 kaldoria-db를 쓸 수 있습니다." \
            "kaldoria-db: $command_link — log out and in again, and every terminal finds kaldoria-db."
      else
        say "kaldoria-db: $command_link — $bin 폴더가 PATH에 없습니다. ~/.profile에 다음 줄을 넣고 다시 로그인하십시오:" \
            "kaldoria-db: $command_link — $bin is not on your PATH; add this line to ~/.profile and log in again:"
        # Printed as it is to be pasted: $HOME and $PATH unexpanded.
        printf '  export PATH="$HOME/.local/bin:$PATH"\n'
      fi
      ;;
  esac
fi
