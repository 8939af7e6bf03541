# Sourced by the scripts: the Wine settings every run of Orvex uses here.
# A 32-bit prefix, the zh_CN locale (ANSI code page 936) and no Mono or
# Gecko installers at first start.
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
unset LC_ALL
export LANG=zh_CN.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# The 64-bit prefix's view of the registry as on XP x64, Server 2003 x64
# and Vista x64: Wine links the 32-bit view's Image File Execution Options
# to the native key, as Windows 7 and later share it; without the link the
# two views are two keys. Edits the prefix at $1 while no wineserver runs.
orvex_separate_image_options() {
  awk 'BEGIN { RS = ""; ORS = "\n\n" }
       !(index($0, "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows NT\\\\CurrentVersion\\\\Image File Execution Options]") == 1 &&
         index($0, "#link") > 0)' "$1/system.reg" >"$1/system.reg.new"
  mv "$1/system.reg.new" "$1/system.reg"
}

# Creates a fresh prefix at $1, 32-bit unless $2 says win64. Its windows
# live on Wine's own virtual desktop: it draws frames and captions without a
# window manager, and spares the X server round trips that make hiding a
# window take a second or two.
orvex_new_prefix() {
  rm -rf "$1"
  local WINEARCH=${2:-$WINEARCH}
  export WINEARCH
  WINEPREFIX="$1" wineboot -i >/dev/null 2>&1
  WINEPREFIX="$1" wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  WINEPREFIX="$1" wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  # Wine draws the caption buttons with Marlett, which this Wine does not
  # find in its own data folder: without it they show letters.
  if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    cp /usr/share/wine/fonts/marlett.ttf "$1/drive_c/windows/Fonts/"
  fi
  # The dialogs ask for 宋体 (SimSun), which Wine does not ship; AR PL UMing
  # is a Song face that renders its strokes whole at 9 points.
  local name
  for name in '宋体' SimSun; do
    WINEPREFIX="$1" wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$name" /d 'AR PL UMing CN' /f >/dev/null 2>&1
  done
  WINEPREFIX="$1" wineserver -w
}
