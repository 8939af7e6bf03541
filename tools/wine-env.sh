# Sourced by the scripts: the Wine settings every run of Orvex uses here.
# A 32-bit prefix, the zh_CN locale (ANSI code page 936) and no Mono or
# Gecko installers at first start.
export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}
unset LC_ALL
export LANG=zh_CN.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# Creates a fresh prefix at $1. Its windows live on Wine's own virtual
# desktop: it draws frames and captions without a window manager, and spares
# the X server round trips that make hiding a window take a second or two.
orvex_new_prefix() {
  rm -rf "$1"
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
