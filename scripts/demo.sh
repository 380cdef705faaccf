#!/usr/bin/env bash
# The demo: builds everything (installing what it needs), serves a simulated iPhone, and runs
# Tandrel's main job against it through tandrelctl, the command-line front-end: device events
# (arrival, pairing, ready), information, storage, a rename, an export, a file moved each way
# block by block, the conversations of a messages database taken out of a fresh backup, a full
# backup, applications, contacts, calendars, notes and bookmarks over the synchronisation service,
# books, ringtones and voice memos, the albums, photos and thumbnails of a second phone's photo
# library, a third phone's music library, the sample plug-in answering a request, and the driver
# packages fetched from a package server and checked by MD5.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh build >/dev/null
BIN="$PWD/build/bin"
WORK="$(mktemp -d /tmp/tandrel-demo.XXXXXX)"
SERVER=""
cleanup() {
  [ -n "$SERVER" ] && kill "$SERVER" 2>/dev/null && wait "$SERVER" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

step() { printf '\n== %s\n' "$*"; }

step "A simulated iPhone (vdevice) on a private usbmuxd socket"
"$BIN/vdevice" profile demo "$WORK/demo" >/dev/null
"$BIN/vdevice" serve --socket "UNIX:$WORK/mux.sock" --profile "$WORK/demo" 2>"$WORK/vdevice.log" &
SERVER=$!
export USBMUXD_SOCKET_ADDRESS="UNIX:$WORK/mux.sock"
for _ in $(seq 50); do [ -S "$WORK/mux.sock" ] && break; sleep 0.1; done
"$BIN/vdevice" ctl --socket "UNIX:$WORK/mux.sock" list

# First, while this computer is still new to the device: the device asks its user to trust it.
step "Device events: arrival, a pairing request (code 25), then ready (tandrelctl devices)"
timeout 60 "$BIN/tandrelctl" devices --until-ready 2>/dev/null

step "Tandrel under the front-end: its reports, a command, a stopped task"
printf '%s\n' \
  '{"cmd":600,"task":1001,"json":{"info":{"task_id":"5005"}}}' \
  '{"sleep_ms":300}' \
  '{"cmd":600,"task":5005,"json":{"info":{"task_id":"1"}}}' |
  "$BIN/tandrelctl" session --linger-ms 1500 2>/dev/null
echo "(task 5005 was stopped before it arrived, so it got no reply)"

step "Device information (tandrelctl info)"
"$BIN/tandrelctl" info 2>/dev/null | head -20
echo "..."

step "Storage by category (tandrelctl storage)"
"$BIN/tandrelctl" storage 2>/dev/null

step "Rename (tandrelctl rename), checked with libimobiledevice's ideviceinfo"
"$BIN/tandrelctl" rename "Kitchen Phone" 2>/dev/null
echo "ideviceinfo says: $(ideviceinfo -k DeviceName)"

step "Export a photo, a book folder and the camera folder (tandrelctl export)"
mkdir -p "$WORK/export"
"$BIN/tandrelctl" export /DCIM/100APPLE/IMG_0001.JPG /Books/Novel.epub /DCIM --to "$WORK/export" 2>/dev/null
(cd "$WORK/export" && ls -l && echo "DCIM is a ZIP archive:" && unzip -l DCIM)

step "A 5 MB file to the device and back, block by block (tandrelctl push / pull)"
head -c 5000000 /dev/urandom >"$WORK/local.bin"
"$BIN/tandrelctl" push "$WORK/local.bin" /Downloads 2>/dev/null
"$BIN/tandrelctl" pull /Downloads/local.bin "$WORK/back.bin" 2>/dev/null
cmp "$WORK/local.bin" "$WORK/back.bin" && echo "the file came back byte for byte"

step "Conversations out of a fresh backup: 1608 for the messages database, then 201 (tandrelctl messages)"
"$BIN/tandrelctl" messages >"$WORK/messages.txt" 2>/dev/null
head -12 "$WORK/messages.txt"

step "A full backup into a folder of our own, then the backups found there (tandrelctl backup / backups)"
"$BIN/tandrelctl" backup --to "$WORK/backups" 2>/dev/null | tail -3
"$BIN/tandrelctl" backups "$WORK/backups" 2>/dev/null | tail -4

step "Applications with their sizes (tandrelctl apps)"
"$BIN/tandrelctl" apps 2>/dev/null | head -8

step "Contacts and groups over the synchronisation service (tandrelctl contacts / add-group / groups)"
"$BIN/tandrelctl" contacts 2>/dev/null | head -4
"$BIN/tandrelctl" add-group "Book club" 2>/dev/null; echo
"$BIN/tandrelctl" groups 2>/dev/null

step "Calendars, notes and bookmarks (tandrelctl calendars / add-note / notes / bookmarks)"
"$BIN/tandrelctl" calendars 2>/dev/null | head -5
"$BIN/tandrelctl" add-note "Shopping" "Milk & <fresh> bread" 2>/dev/null
"$BIN/tandrelctl" notes 2>/dev/null | tail -2
"$BIN/tandrelctl" bookmarks 2>/dev/null

step "Books, ringtones and voice memos (tandrelctl books / ringtones / recordings)"
"$BIN/tandrelctl" books 2>/dev/null
"$BIN/tandrelctl" ringtones 2>/dev/null
"$BIN/tandrelctl" recordings 2>/dev/null | head -6

step "A second phone, on iOS 16, whose newest photos are only in its library's -wal (tandrelctl albums / photos / thumbs / delete-photos)"
"$BIN/vdevice" profile photos-ios16 "$WORK/photos16" >/dev/null
"$BIN/vdevice" ctl --socket "UNIX:$WORK/mux.sock" attach "$WORK/photos16" >/dev/null
PHOTOS_UDID=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["udid"])' "$WORK/photos16/device.json")
"$BIN/tandrelctl" albums --device "$PHOTOS_UDID" 2>/dev/null
"$BIN/tandrelctl" photos --device "$PHOTOS_UDID" >"$WORK/photos.txt" 2>/dev/null
head -3 "$WORK/photos.txt" && tail -1 "$WORK/photos.txt"
"$BIN/tandrelctl" thumbs --device "$PHOTOS_UDID" 1:DCIM/100APPLE/IMG_0001.JPG 8:DCIM/100APPLE/IMG_0008.JPG \
  --save "$WORK/thumbs" 2>/dev/null
"$BIN/tandrelctl" delete-photos IMG_0041 --device "$PHOTOS_UDID" 2>/dev/null

step "A music phone: songs, videos and playlists out of its media library (tandrelctl music / playlist)"
"$BIN/vdevice" profile music-iphone "$WORK/music" >/dev/null
"$BIN/vdevice" ctl --socket "UNIX:$WORK/mux.sock" attach "$WORK/music" >/dev/null
MUSIC_UDID=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["udid"])' "$WORK/music/device.json")
"$BIN/tandrelctl" music --device "$MUSIC_UDID" >"$WORK/music.txt" 2>/dev/null
grep -A3 "^songs" "$WORK/music.txt"; grep -A2 "^playlists" "$WORK/music.txt"

step "A plug-in on the event bus: the sample plug-in answers a request (tandrelctl plugin)"
"$BIN/tandrelctl" --load-module "$PWD/build/plugins/SamplePlugin" plugin SAMPLE_ECHO --text "hello, plug-in" \
  --quiet-ms 500 2>/dev/null

step "Driver packages from a package server on this computer, checked by MD5 (tandrelctl drivers)"
mkdir -p "$WORK/packages/x64"
for name in AppleApplicationSupport AppleApplicationSupport64 AppleMobileDeviceSupport64; do
  head -c 300000 /dev/urandom >"$WORK/packages/x64/$name.msi"
  md5sum "$WORK/packages/x64/$name.msi" | cut -d' ' -f1 >"$WORK/packages/x64/$name.msi.txt"
done
python3 tests/connect/driver_server.py "$WORK/packages" "$WORK/package-port" "$WORK/package-requests" &
PACKAGES=$!
for _ in $(seq 50); do [ -s "$WORK/package-port" ] && break; sleep 0.1; done
"$BIN/tandrelctl" drivers --url "http://127.0.0.1:$(cat "$WORK/package-port")" 2>/dev/null | tail -2
kill "$PACKAGES" && wait "$PACKAGES" 2>/dev/null || true
