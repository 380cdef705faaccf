#!/usr/bin/env python3
"""Writes small seed inputs for the fuzz targets into the given folder (one sub-folder each)."""
import gzip
import os
import sqlite3
import plistlib
import struct
import sys
import tempfile
import zlib


def packet(task, command, payload):
    return b"kCommand" + bytes([1, 2, 3, 4, 5, 6]) + struct.pack("<QIHQ", task, command, 0, len(payload)) + payload


def write(root, target, name, data):
    folder = os.path.join(root, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main(root):
    stop = b'1\x00{"info":{"task_id":"5"}}\x00'
    write(root, "packet_assembler", "two_packets", bytes([40]) + packet(1, 600, stop) + bytes([10]) + packet(2, 601, b""))
    write(root, "packet_assembler", "heartbeat_then_packet", bytes([8]) + b"\x16" * 8 + bytes([60]) + packet(3, 15, b"1\x00{}\x00"))
    plist = (b'<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>Command</key>'
             b'<string>AssetMetrics</string><key>Params</key><dict><key>_PhysicalSize</key><integer>12abc</integer>'
             b'<key>Photo</key><dict><key>_Count</key><integer>3</integer></dict></dict><key>list</key><array>'
             b'<date>2024-01-01T00:00:00Z</date><string>x</string><real>1.5</real><TRUE/></array></dict></plist>')
    write(root, "plist_value", "asset_metrics", plist)
    write(root, "plist_value", "binary", b"bplist00\xd1\x01\x02Q1\x10\x02\x08\x0b\x0d" + bytes(6) + b"\x01\x01" +
          bytes(6) + b"\x03" + bytes(7) + b"\x00" + bytes(7) + b"\x0f")
    def afc_reply(number, operation, body):
        return b"CFA6LPAA" + struct.pack("<QQQQ", 40 + len(body), 40, number, operation) + body
    info = b"st_size\x00" b"4096\x00st_ifmt\x00S_IFREG\x00st_nlink\x001\x00"
    write(root, "devicefw_afc_reply", "file_missing_directory",
          afc_reply(0, 2, info) + afc_reply(1, 1, struct.pack("<Q", 8)) +
          afc_reply(2, 2, b"st_size\x0096\x00st_ifmt\x00S_IFDIR\x00"))
    batch = ["SDMessageProcessChanges", "com.apple.Contacts",
             {str(i): {"com.apple.syncservices.RecordEntityName": "com.apple.contacts.Contact", "first name": "N\u00e9 %d" % i}
              for i in range(20)}, True, {}]
    write(root, "bplist_peek", "batch", plistlib.dumps(batch, fmt=plistlib.FMT_BINARY))
    write(root, "bplist_peek", "dict", plistlib.dumps({"MessageName": "x" * 20}, fmt=plistlib.FMT_BINARY))
    write(root, "service_message", "two_messages", struct.pack(">I", len(plist)) + plist + struct.pack(">I", 3) + b"abc")
    write(root, "contact_push", "group_and_phone", b"g1\x00Tom & Jerry <3>\x001\x00x]]>\x00" +
          b'<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><array><string>SDMessageProcessChanges</string>'
          b'<string>com.apple.Contacts</string><dict><key>p1</key><dict><key>value</key><string>+1 555</string>'
          b'<key>contact</key><array><string>host-1</string></array></dict></dict><false/><dict/></array></plist>')
    write(root, "sync_push_text", "bookmark", b'<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><array>'
          b'<string>SDMessageProcessChanges</string><string>com.apple.Bookmarks</string><dict><key>host-1</key><dict>'
          b'<key>name</key><string>a &amp; &lt;b&gt;</string><key>parent</key><array><string>1</string></array>'
          b'<key>position</key><integer>3</integer></dict></dict><false/><dict><key>k</key><true/></dict></array></plist>')
    def dl(*elements):
        body = (b'<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><array>' + b"".join(elements) +
                b"</array></plist>")
        return struct.pack(">I", len(body)) + body

    def name(text):
        return struct.pack(">I", len(text)) + text

    def block(code, payload):
        return struct.pack(">I", len(payload) + 1) + bytes([code]) + payload

    upload = (name(b"UDID/a") + name(b"UDID/a") + block(12, b"hello") + block(0, b"") +
              name(b"x") + name(b"UDID/../x") + block(11, b"oops") + struct.pack(">I", 0))
    write(root, "raw_file_framing", "upload", upload)
    write(root, "devicelink_backup", "session",
          dl(b"<string>DLMessageCreateDirectory</string><string>UDID/Snapshot/a</string><real>1.5</real>") +
          dl(b"<string>DLMessageUploadFiles</string><dict/><real>50.0</real>") + upload +
          dl(b"<string>DLMessageMoveItems</string><dict><key>UDID/a</key><string>UDID/b</string></dict>") +
          dl(b"<string>DLMessageRemoveItems</string><array><string>UDID/b</string></array>") +
          dl(b"<string>DLMessageDownloadFiles</string><array><string>UDID/c</string></array>") +
          dl(b"<string>DLMessageProcessMessage</string><dict><key>ErrorCode</key><integer>0</integer></dict>"
             b"<real>100.0</real>") +
          dl(b"<string>DLMessageDisconnect</string>"))
    metadata = (b'<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>softwareVersionBundleId</key>'
                b'<string>com.example.app</string><key>itemName</key><string>App</string>'
                b'<key>com.apple.iTunesStore.downloadInfo</key><dict><key>accountInfo</key><dict><key>AppleID</key>'
                b'<string>a@b.c</string></dict></dict></dict></plist>')
    write(root, "app_answers", "metadata", metadata)
    browse = (b'<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><dict><key>CurrentList</key><array><dict>'
              b'<key>CFBundleIdentifier</key><string>com.example.app</string><key>iTunesMetadata</key><data>' +
              __import__("base64").b64encode(metadata) + b'</data><key>StaticDiskUsage</key><integer>5</integer>'
              b'</dict></array><key>Status</key><string>BrowsingApplications</string>'
              b'<key>PercentComplete</key><integer>40</integer></dict></plist>')
    write(root, "app_answers", "browse", browse)
    write(root, "command_json", "stop", stop)
    write(root, "command_json", "params", b'{"kKorServerStartParamPort":5000,"kKorServerStartParamLoadModules":["a"]}')
    write(root, "plugin_load", "sample", b'{"path":"libsample_plugin.so","x64":"x64","win32":"x86","type":1,'
          b'"version":"1.0.0","id":"com.tandrel.sample","command-recv":["SAMPLE_ECHO"],"command-send":[],'
          b'"require":[],"optional":[],"width":0,"height":0,"command-create":""}')
    write(root, "plugin_load", "escape", b'{"path":"..\\lib.so","x64":"a/../.."}')
    write(root, "command_json", "attachment", b'1\x00{"uuid":"x"}\x00x\x9c\xabV*H,\xc9P\xb2R\xd2w\xf1tU\xaa\x05\x00;\x1a\x05\xdd')
    seconds = struct.pack("<q", 1562198437)
    write(root, "photo_thumbnail_path", "dcim", seconds + b"DCIM/100APPLE/IMG_0001.JPG")
    write(root, "photo_thumbnail_path", "cpl", seconds + b"/PhotoData/CPLAssets/group/a.b/c")
    write(root, "photo_thumbnail_path", "regexp", struct.pack("<q", 0) + b"Z_[0-9]+ASSETSz_26assets")

    write(root, "typedstream", "attributed_string",
          b"\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84\x12NSAttributedString\x00\x84\x84\x08NSObject"
          b"\x00\x85\x92\x84\x84\x84\x08NSString\x01\x94\x84\x01+\x05Hello\x86\x84\x02iI\x01\x05\x92\x86")
    write(root, "sms_database", "conversation_schema", messages_database())
    write(root, "itunes_db", "plain", itunes_db(False))
    write(root, "media_database", "media_library", photo_database(
        """create table item (item_pid integer primary key, media_type integer, item_artist_pid integer,
             album_pid integer, genre_id integer, base_location_id integer);
           create table item_extra (item_pid integer primary key, title text, total_time_ms real, year integer,
             location text, file_size integer, date_modified integer, media_kind integer, comment text,
             description_long text, copyright text);
           create table album (album_pid integer primary key, album text);
           create table item_artist (item_artist_pid integer primary key, item_artist text);
           create table genre (genre_id integer primary key, genre text);
           create table base_location (base_location_id integer primary key, path text);
           create table container (container_pid integer primary key, name text, contained_media_type integer,
             parent_pid integer, smart_is_folder integer, is_hidden integer);
           create table container_item (container_item_pid integer primary key, container_pid integer,
             item_pid integer, position integer);
           create table db_info (db_pid integer primary key, primary_container_pid integer);
           insert into item values (7, 8, 1, 1, 1, 3840);
           insert into item_extra values (7, 'Blue', 151013.5, 1999, 'ABCD.mp3', 3500000, 1600000000, 1, null,
             null, 'p');
           insert into album values (1, 'Sessions');
           insert into item_artist values (1, 'Aurora Lane');
           insert into genre values (1, 'Pop');
           insert into base_location values (3840, 'iTunes_Control/Music/F00');
           insert into container values (1, 'Library', 0, 0, 0, 0), (2, 'Road Trip', 8, 0, 0, 0);
           insert into container_item values (1, 2, 7, 0);
           insert into db_info values (9, 1);"""))
    write(root, "media_database", "library_itdb", photo_database(
        """create table item (pid integer primary key, media_kind integer, year integer, date_modified integer,
             comment text, description_long text, copyright text, title text, total_time_ms real,
             album text, artist text, genre_id integer);
           create table genre_map (id integer primary key, genre text);
           create table container (pid integer primary key, name text, media_kinds integer, parent_pid integer,
             smart_is_folder integer, is_hidden integer);
           create table item_to_container (item_pid integer, container_pid integer, physical_order integer);
           create table db_info (pid integer primary key, primary_container_pid integer);
           create table base_location (id integer primary key, path text);
           create table location (item_pid integer, sub_id integer, base_location_id integer, location text,
             file_size integer);
           insert into item values (7, 1, 1999, 0, null, null, 'p', 'Blue', 151013.5, 'Sessions', 'Aurora', 1);
           insert into genre_map values (1, 'Pop');
           insert into container values (1, 'iPod', 0, 0, 0, 0), (2, 'Road Trip', 8, 0, 0, 0);
           insert into item_to_container values (7, 2, 0);
           insert into db_info values (9, 1);
           insert into base_location values (3840, ':iTunes_Control:Music:F00');
           insert into location values (7, 0, 3840, 'ABCD.mp3', 3500000);"""))
    write(root, "itunes_db", "compressed", itunes_db(True))
    def media_plist(body):
        return (b'<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0">' + body + b'</plist>\n')
    write(root, "media_lists", "books", media_plist(
        b"<dict><key>Books</key><array><dict><key>Name</key><string>The Time Machine</string>"
        b"<key>Path</key><string>KZQT.epub</string><key>Artist</key><string>H. G. Wells</string>"
        b"<key>Genre</key><string>Fiction</string><key>Has Artwork</key><false/></dict></array></dict>"))
    write(root, "media_lists", "ringtones", media_plist(
        b"<dict><key>Ringtones</key><dict><key>DQXC.m4r</key><dict><key>Name</key><string>Marimba</string>"
        b"<key>Total Time</key><integer>28400</integer></dict></dict></dict>"))
    write(root, "media_lists", "manifest", media_plist(
        b"<dict><key>20230521 094512</key><dict><key>RCComposedAVURL</key>"
        b"<string>file:///var/mobile/Media/Recordings/20230521%20094512.m4a</string>"
        b"<key>RCSavedRecordingTitle</key><string>Band rehearsal</string>"
        b"<key>RCSavedRecordingCreationDate</key><date>2023-05-21T09:45:12Z</date></dict></dict>"))
    # The first byte picks the note-body fuzzer's path: 0 the stored blob as given, 1 compress it first.
    document = note_document("Floor plan\nSee the sketch: \ufffc\nthen", "6F7A3C11", "public.jpeg")
    write(root, "note_body", "stored", b"\x00" + gzip.compress(document, mtime=0))
    write(root, "note_body", "document", b"\x01" + document)
    write(root, "note_body", "truncated", b"\x00" + gzip.compress(document, mtime=0)[:-7])
    write(root, "photo_database", "core_data", photo_database(
        """create table ZASSET (Z_PK integer primary key, ZSAVEDASSETTYPE integer, ZDIRECTORY varchar,
             ZFILENAME varchar, ZORIENTATION integer, ZADDITIONALATTRIBUTES integer, ZDATECREATED timestamp,
             ZMODIFICATIONDATE timestamp, ZTRASHEDSTATE integer, ZFAVORITE integer, ZKINDSUBTYPE integer,
             ZKIND integer, ZPLAYBACKSTYLE integer, ZAVALANCHEPICKTYPE integer);
           create table ZADDITIONALASSETATTRIBUTES (Z_PK integer primary key, ZORIGINALFILESIZE integer);
           create table ZGENERICALBUM (Z_PK integer primary key, ZKIND integer, ZTITLE varchar, ZTRASHEDSTATE integer);
           create table Z_28ASSETS (Z_28ALBUMS integer, Z_3ASSETS integer, Z_FOK_3ASSETS integer);
           insert into ZASSET values (1, 3, 'DCIM/100APPLE', 'IMG_0001.JPG', 1, 1, 6.6e8, 6.6e8, 0, 1, 10, 0, 3, 52);
           insert into ZADDITIONALASSETATTRIBUTES values (1, 1500000);
           insert into ZGENERICALBUM values (1, 2, 'Holidays', 0);
           insert into Z_28ASSETS values (1, 1, 1);"""))
    write(root, "photo_database", "oldest", photo_database(
        """create table Photo (primaryKey integer primary key, type integer, directory text, filename text,
             orientation integer, captureTime timestamp, recordModDate timestamp);
           create table PhotoAlbum (primaryKey integer primary key, kind integer, title text);
           create table PhotoAlbumToPhotoJoin (left integer, right integer);
           insert into Photo values (1, 0, 'DCIM/100APPLE', 'IMG_0001.JPG', 1, 3.5e8, 3.5e8);
           insert into PhotoAlbum values (1, 1000, 'Saved Photos');
           insert into PhotoAlbumToPhotoJoin values (1, 1);"""))


def varint(value):
    out = b""
    while value >= 0x80:
        out += bytes([(value & 0x7F) | 0x80])
        value >>= 7
    return out + bytes([value])


def field(number, payload):
    if isinstance(payload, int):
        return varint(number << 3) + varint(payload)
    return varint(number << 3 | 2) + varint(len(payload)) + payload


def note_document(text, attachment_id, attachment_type):
    """A note document as the note store keeps it (before gzip): the text and its attribute runs."""
    encoded = text.encode("utf-8")
    title, _, rest = text.partition("\n")
    runs = field(5, field(1, len(title) + 1) + field(2, field(1, 0)))
    before, _, after = rest.partition("\ufffc")
    runs += field(5, field(1, len(before)))
    runs += field(5, field(1, 1) + field(12, field(1, attachment_id.encode()) + field(2, attachment_type.encode())))
    runs += field(5, field(1, len(after)))
    return field(2, field(2, 0) + field(3, field(2, encoded) + runs))


def chunk(tag, header_length, third, header_fields, children=b"", sized=True):
    """One music-database chunk: tag, header length, total length (or count), fields, children."""
    header = bytearray(header_length)
    header[0:4] = tag
    for offset, packed in header_fields:
        header[offset:offset + len(packed)] = packed
    total = header_length + len(children)
    header[4:12] = struct.pack("<II", header_length, total if sized else third)
    return bytes(header) + children


def itunes_db(compress):
    def text(kind, value):
        body = value.encode("utf-16-le")
        return chunk(b"mhod", 0x18, 0, [(12, struct.pack("<I", kind))], struct.pack("<IIII", 1, len(body), 1, 0) + body)
    track = chunk(b"mhit", 0x270, 0, [(12, struct.pack("<II", 2, 7)), (24, b" 3PM")],
                  text(1, "Song") + text(2, ":iTunes_Control:Music:F00:A.mp3"))
    item = chunk(b"mhip", 0x4c, 0, [(12, struct.pack("<I", 0)), (24, struct.pack("<I", 7))])
    playlist = chunk(b"mhyp", 0x6c, 0, [(12, struct.pack("<II", 1, 1)), (20, b"\x01")], text(1, "iPhone") + item)
    tracks = chunk(b"mhsd", 0x60, 0, [(12, struct.pack("<I", 1))], chunk(b"mhlt", 0x5c, 1, [], track, False))
    playlists = chunk(b"mhsd", 0x60, 0, [(12, struct.pack("<I", 2))], chunk(b"mhlp", 0x5c, 1, [], playlist, False))
    body = tracks + playlists
    if compress:
        body = zlib.compress(body)
    return chunk(b"mhbd", 0xf4, 0, [(16, struct.pack("<II", 0x75, 2))], body)


def photo_database(script):
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "Photos.sqlite")
        db = sqlite3.connect(path)
        db.executescript(script)
        db.commit()
        db.close()
        with open(path, "rb") as f:
            return f.read()


def messages_database():
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "sms.db")
        db = sqlite3.connect(path)
        db.executescript("""
            create table handle (ROWID integer primary key, id text, country text, service text);
            create table chat (ROWID integer primary key, chat_identifier text);
            create table message (ROWID integer primary key, text text, attributedBody blob, date integer,
              date_read integer, is_read integer, is_from_me integer, is_sent integer, error integer,
              handle_id integer, subject text, account text, account_guid text);
            create table chat_message_join (chat_id integer, message_id integer);
            create table chat_handle_join (chat_id integer, handle_id integer);
            insert into handle values (1, '+15550001111', 'us', 'iMessage');
            insert into chat values (1, '+15550001111');
            insert into message values (1, 'hi', null, 600000000, 0, 1, 0, 0, 0, 1, null, null, null);
            insert into message values (2, null, x'040b73747265616d7479706564', 600000000000000000, 0, 1, 1, 1, 0, 1,
              null, null, null);
            insert into chat_message_join values (1, 1), (1, 2);
            insert into chat_handle_join values (1, 1);
        """)
        db.commit()
        db.close()
        with open(path, "rb") as f:
            return f.read()


if __name__ == "__main__":
    main(sys.argv[1])
