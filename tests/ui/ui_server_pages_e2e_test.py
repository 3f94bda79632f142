"""OrchardUI's peer and upload lists and its settings container (server
information, status, FTP and P2P settings) end to end, under Wine in a
virtual desktop, driven from outside by ui_driver.

Against the real OrchardSvc whose P2P core is logged in to the P2P doubles:
the upload limit typed in the P2P page reaches the server (command 113 reads
it back); a published file is downloaded by a scripted UDP peer the super
node introduces, held back by that limit; the peer shows in the peer list and
its file in the upload list; the FTP address and account saved in the page
reach the server (commands 68 and 66, read back by 67 and 65); after the
server was stopped from the menu and started again, all of it is still there
and the P2P page shows it again.

Against the control-server double, in Chinese and in English: many peers and
uploads with realistic names and 64-bit counters, sorting by a column, the
settings pages' requests and check messages, and screenshots of every page
and of the settings container in build/win/ui-screenshots/, each looked at for
the texts it must show and for the status bar drawn to the window's right end.
"""

import hashlib
import os
import random
import struct
import sys
import tempfile
import threading
import shutil
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "p2p"))
sys.path.insert(0, os.path.join(HERE, "..", "lib"))
import orchard_channel as oc  # noqa: E402
from orchard_proc import remove_work_dir, wait_until  # noqa: E402
from orchard_server import win  # noqa: E402
import p2p_peers as pp  # noqa: E402
import p2p_wire as w  # noqa: E402
from ui_e2e_test import check, prepare  # noqa: E402
from ui_pages_e2e_test import (PUBLISHED, PageDriver, leave, publishing_server, run_parts, server_listing,  # noqa: E402
                               start_ui_in_desktop)
from ui_real_server_test import write_ini  # noqa: E402
from ui_server_double import UiServerDouble, default_replies, name_field, path_field  # noqa: E402

DESKTOP = "orchard_server_pages"
VK_LEFT, VK_RIGHT = 0x25, 0x27
CB_SETCURSEL = 0x014E
IPM_SETADDRESS = 0x0400 + 101
START_ITEM, STOP_ITEM = 32777, 32778
# Controls
TAB = 1095
USER_LIST, UPLOAD_LIST, UPLOAD_COUNT = 1171, 1176, 1177
SAVE, UNDO = 1042, 1043
SELECT_INFO, SELECT_STATUS, SELECT_FTP, SELECT_P2P = 1093, 1094, 1116, 1117
INFO = {"state": 1072, "node": 1073, "address": 1084, "dirs": 1080, "files": 1081, "os": 1074, "cpu": 1075,
        "memory": 1076, "free": 1082, "virtual": 1077}
STATUS = {"ftp sent": 1130, "ftp received": 1134, "ftp users": 1140, "p2p sent": 1074, "p2p speed": 1075,
          "requests": 1120, "disk requests": 1123, "disk delay": 1124, "disk speed": 1121, "disk read": 1132,
          "cache read": 1131, "cache use": 1135, "hits": 1128, "misses": 1129, "hit rate": 1126}
FTP_BY_IP, FTP_BY_DOMAIN, FTP_IP, FTP_PORT, FTP_DEFAULT_PORT = 1031, 1032, 1140, 1141, 1143
FTP_CUSTOM_ACCOUNT, FTP_USER, FTP_PASSWORD, FTP_DOMAIN = 1144, 1146, 1148, 1151
P2P_SPEED, P2P_LEVEL, P2P_PORT = 1039, 1149, 1150
# What each page's screenshot must show: the selector's buttons, the fields with their texts (the password only
# where one was typed: the server gives only its digest), the message's text and its button.
SELECTOR = [SELECT_INFO, SELECT_STATUS, SELECT_FTP, SELECT_P2P]
FTP_TEXTS = [FTP_BY_IP, FTP_BY_DOMAIN, FTP_PORT, FTP_DEFAULT_PORT, FTP_CUSTOM_ACCOUNT, FTP_USER, SAVE, UNDO]
P2P_TEXTS = [P2P_SPEED, P2P_LEVEL, P2P_PORT, SAVE, UNDO]
BOX_TEXTS = [0xFFFF, 1]

TEXTS = {
    "zh": {"running": "服务已启动", "stopped": "服务已停止", "uploading": "当前正在上传文件:%d",
           "republish": "Ftp的域名、ip、端口、账号或密码发生变化的，需要全部重新发布!\\n"
                        "否则可能会造成以前发布的链接无法下载的情况!",
           "port range": "端口必须是1到65535之间的数字", "speed range": "最大上传速度必须是0到999999之间的数字(KB/S)",
           "domain empty": "域名不能为空", "refused port": "不能初始化此端口",
           "peer id": "PeerID", "detailed log": "详细日志"},
    "en": {"running": "Service running", "stopped": "Service stopped", "uploading": "Files being uploaded:%d",
           "republish": "A change of the FTP domain, IP, port, account or password needs everything published again!"
                        "\\nOtherwise links published before may no longer download!",
           "port range": "The port must be a number from 1 to 65535",
           "speed range": "The maximum upload speed must be a number from 0 to 999999 (KB/S)",
           "domain empty": "The domain name must not be empty", "refused port": "不能初始化此端口",
           "peer id": "PeerID", "detailed log": "Detailed log"},
}


class SettingsDriver(PageDriver):
    """The page driver with the settings container and the lists at hand."""

    def tab(self, main, index):
        """Moves the tab control to `index` with the arrow keys, as the keyboard would."""
        for _ in range(4):
            current = int(self.out("tab", main, TAB).split("current=")[-1] or -1)
            if current == index:
                return True
            self.run("key", main, TAB, VK_LEFT if current > index else VK_RIGHT)
            time.sleep(0.4)
        return self.out("tab", main, TAB).endswith("current=%d" % index)

    def select_page(self, main, button):
        """Clicks a button of the settings container's selector pane; the page's dialog."""
        _, selector = self.item(main, button)
        if selector:
            self.run("command", selector, button)
            time.sleep(0.6)
        return selector

    def page_of(self, main, control):
        """The dialog that holds a control (the first visible one with the id)."""
        return self.item(main, control)[1]

    def save(self, main):
        _, container = self.item(main, SAVE)
        self.run("command", container, SAVE)

    def undo(self, main):
        _, container = self.item(main, UNDO)
        self.run("command", container, UNDO)

    def texts(self, page, ids):
        return {name: self.out("text", page, control) for name, control in ids.items()}

    def set_ip(self, page, a, b, c, d):
        control = self.out("find-item", page, FTP_IP).split()[0]
        self.run("post", control, IPM_SETADDRESS, 0, (a << 24) | (b << 16) | (c << 8) | d)


def wait_rows(drv, list_hwnd, predicate, timeout):
    last = [([], [])]

    def ready():
        last[0] = drv.rows(list_hwnd)
        return predicate(last[0][1])
    ok = wait_until(ready, timeout, step=0.5)
    return ok, last[0]


# ---------------------------------------------------------------- records

def user_record(uid, ip, port, nat, version, fid, path, sent, speed, transport, reads, hits, disk, cache):
    b = bytearray(456)
    struct.pack_into("<Q", b, 4, uid)
    b[12:16] = bytes(ip)
    struct.pack_into("<HB", b, 16, port, nat)
    ver_ip, ver_value, ver_text = version
    b[20:24] = bytes(ver_ip)
    struct.pack_into("<I", b, 24, ver_value)
    b[28:28 + len(ver_text[:31])] = ver_text[:31]
    b[60:76] = fid
    b[76:76 + len(path[:259])] = path[:259]
    struct.pack_into("<QI", b, 336, sent, speed)
    b[380] = transport
    struct.pack_into("<IIII", b, 406, reads, hits, disk, cache)
    return bytes(b)


def upload_record(fid, path, size, handshakes, requests, sent, speed):
    b = bytearray(304)
    b[0:16] = fid
    b[16:16 + len(path[:254])] = path[:254]
    struct.pack_into("<QIIQI", b, 272, size, handshakes, requests, sent, speed)
    return bytes(b)


def list_reply(records):
    return struct.pack("<HI", 200, len(records)) + b"".join(records)


SHOWS = {
    "zh": ["D:\\节目\\新闻联播\\2024年\\第%04d期 新闻联播 高清.mp4", "E:\\纪录片\\地球脉动 第二季\\地球脉动II 第%02d集 1080p.mkv",
           "F:\\综艺\\快乐大本营\\2023年全集（高清）\\快乐大本营 %03d.flv"],
    "en": ["D:\\Shows\\Evening News\\2024\\Evening News %04d HD.mp4",
           "E:\\Documentaries\\Planet Earth II (2016) 1080p\\Planet Earth II S01E%02d.mkv",
           "F:\\Variety\\Saturday Night Live\\Season 49\\SNL S49E%03d 720p.flv"],
}
CODE_PAGES = {"zh": "gbk", "en": "cp1252"}


def shows(language, count):
    encoding = CODE_PAGES[language]
    out = []
    for i in range(count):
        pattern = SHOWS[language][i % 3]
        path = pattern % (i + 1)
        out.append((path, path.encode(encoding), hashlib.md5(path.encode("utf-8")).digest()))
    return out


def peers(language, count):
    rng = random.Random(5)
    files = shows(language, 12)
    records = []
    for i in range(count):
        path, raw, fid = files[i % len(files)]
        speed = rng.choice([0, 12000, 65536, 262144, 1048576, 3000000])
        reads = rng.randrange(0, 5000)
        hits = rng.randrange(0, reads + 1)
        disk = rng.randrange(0, 50_000_000)
        cache = rng.randrange(0, disk + 1)
        version = ([1, 0, 3, 36], rng.randrange(0, 30), rng.choice([b"Orchard P2P 2.0", b"vxplayer.exe", b"peer-v2.exe"]))
        records.append(user_record(5_000_000_000 + rng.randrange(0, 10 ** 9), [rng.randrange(1, 223), rng.randrange(256),
                                   rng.randrange(256), rng.randrange(1, 255)], rng.randrange(1024, 65535),
                                   rng.choice([0x11, 0x12, 0x13, 0x14, 0x23]), version, fid, raw,
                                   rng.randrange(0, 8 * 1024 ** 3), speed, rng.choice([1, 2]), reads, hits, disk,
                                   cache))
    return records


def uploads(language, count):
    rng = random.Random(9)
    records = []
    for path, raw, fid in shows(language, count):
        size = rng.randrange(200 * 1024 ** 2, 6 * 1024 ** 3)
        speed = 0 if rng.random() < 0.25 else rng.randrange(1000, 4_000_000)
        records.append(upload_record(fid, raw, size, rng.randrange(1, 40), rng.randrange(10, 90000),
                                     rng.randrange(0, 3 * size), speed))
    return records


def double_replies(language):
    replies = default_replies()
    replies[81] = struct.pack("<H", 200) + name_field("running") + struct.pack("<Q", 1234567890123) \
        + bytes([203, 0, 113, 25]) + struct.pack("<II", 4, 3001)
    replies[82] = struct.pack("<H", 200) + name_field("6.1.0.7601 Service Pack 1") \
        + name_field("Intel(R) Xeon(R) CPU E5-2680 v4 @ 2.40GHz")
    replies[83] = struct.pack("<HIIIQQ", 200, 0xFFFFFFFF, 2684354560, 1932735283, 0, 0)
    replies[69] = struct.pack("<HQQI", 200, 5_712_345_678, 1_234_567, 3)
    totals = struct.pack("<QIIII", 9_876_543_210, 0, 1_572_864, 48, 0)
    block = struct.pack("<IIQQQQIiiI", 31, 412, 6_000_000_000, 1_500_000_000, 3_221_225_472_000, 805_306_368_000,
                        1_048_576, 80, 75, 0)
    replies[117] = struct.pack("<H", 200) + totals + block
    replies[97] = list_reply(peers(language, 60))
    replies[98] = list_reply(uploads(language, 40))
    replies[113] = struct.pack("<HIHH", 200, 512, 9, 8001)
    replies[65] = struct.pack("<H", 200) + name_field("orchard") + name_field(hashlib.md5(b"pw").hexdigest().upper()) \
        + struct.pack("<I", 0)
    replies[67] = struct.pack("<H", 200) + name_field("203.0.113.25") + struct.pack("<H", 2121)
    for code in (66, 68, 114, 115):
        replies[code] = struct.pack("<H", 200)
    replies[116] = struct.pack("<H", 501) + "不能初始化此端口".encode("utf-16-le").ljust(64, b"\0")
    return replies


def size_of(text):
    """The bytes a size text of the lists stands for ("%d B", "%3.2f KB", "%3.2f MB", "%.2f GB")."""
    number, unit = text.split()
    return float(number) * {"B": 1, "KB": 1024, "MB": 1024 ** 2, "GB": 1024 ** 3}[unit]


def fields_68(body):
    host_type, = struct.unpack_from("<I", body, 2)
    host = body[6:134].decode("utf-16-le").split("\0", 1)[0]
    port, = struct.unpack_from("<H", body, 134)
    return host_type, host, port, len(body)


def with_server_double(wine, bin_dir, shots, language):
    t = TEXTS[language]
    extra = {"OrchardUI_ENU.DLL": "OrchardUI_ENU.DLL"} if language == "en" else {}
    folder = prepare(bin_dir, ["OrchardUI.exe", "ui_driver.exe"], extra)
    write_ini(folder, "od_ui_cfg.ini", "[site]\ncount=1\nlastconn=127.0.0.1\n[site_1]\naddress=127.0.0.1\nport=9090\n"
              "auto=1\n")
    drv = SettingsDriver(wine, folder, DESKTOP + "_" + language)
    suffix = "" if language == "zh" else "_english"
    tag = "[%s] " % language
    ui = None
    with UiServerDouble(replies=double_replies(language)) as double:
        try:
            ui = start_ui_in_desktop(wine, folder, "zh_CN.UTF-8" if language == "zh" else "en_US.UTF-8", drv.desktop)
            main = drv.wait_window("Orchard", 60)
            if not check(main is not None, tag + "OrchardUI logs in to the double"):
                return
            drv.run("move", main, 40, 20, 1180, 820)
            check(double.wait_for(113, 10) is not None, tag + "the first poll reads the settings")

            # Server information: the settings tab's first page.
            info = drv.page_of(main, INFO["state"])
            ok = wait_until(lambda: drv.out("text", info, INFO["os"]).startswith("6.1"), 10)
            shown = drv.texts(info, INFO)
            check(ok and shown == {"state": t["running"], "node": "1234567890123", "address": "203.0.113.25",
                                   "dirs": "4", "files": "3001", "os": "6.1.0.7601 Service Pack 1",
                                   "cpu": "Intel(R) Xeon(R) CPU E5-2680 v4 @ 2.40GHz", "memory": "4.00 GB",
                                   "free": "2.50 GB", "virtual": "1.80 GB"},
                  tag + "the information page shows the server's figures: %r" % shown)
            check(len(double.of(82)) == 1, tag + "the system text is read once")
            drv.shot(main, shots, "settings_server_info" + suffix, SELECTOR + list(INFO.values()), bar=True)

            # Server status.
            status = drv.select_page(main, SELECT_STATUS)
            status = drv.page_of(main, STATUS["ftp sent"])
            wait_until(lambda: drv.out("text", status, STATUS["hits"]) != "0", 10)
            shown = drv.texts(status, STATUS)
            check(shown == {"ftp sent": "5712345678", "ftp received": "1234567", "ftp users": "3",
                            "p2p sent": "9.20 GB", "p2p speed": "1.50 MB/S", "requests": "48", "disk requests": "31",
                            "disk delay": "412", "disk speed": "1.00 MB/S", "disk read": "750.00 GB",
                            "cache read": "3000.00 GB", "cache use": "75%", "hits": "6000000000",
                            "misses": "1500000000", "hit rate": "80%"},
                  tag + "the status page shows 64-bit counters whole: %r" % shown)
            since = time.monotonic()
            time.sleep(3.2)
            ticks = len([r for r in double.of(69) if r.when >= since])
            check(2 <= ticks <= 5, tag + "the status page reads every second while shown: %d in 3.2 s" % ticks)
            drv.shot(main, shots, "settings_server_status" + suffix, SELECTOR + list(STATUS.values()), bar=True)

            # FTP settings: the cache the first poll read, then a domain saved.
            drv.select_page(main, SELECT_FTP)
            ftp = drv.page_of(main, FTP_PORT)
            check(drv.out("text", ftp, FTP_PORT) == "2121" and drv.out("text", ftp, FTP_USER) == "orchard",
                  tag + "the FTP page shows the server's port and user")
            drv.shot(main, shots, "settings_ftp" + suffix, SELECTOR + FTP_TEXTS, bar=True)
            drv.run("click", ftp, FTP_BY_DOMAIN)
            drv.run("set-text", ftp, FTP_DOMAIN, "")
            drv.save(main)
            check(drv.message_box_text() == t["domain empty"], tag + "an empty domain name is refused")
            check(double.of(68) == [], tag + "and nothing is sent")
            drv.run("set-text", ftp, FTP_DOMAIN, "ftp.orchard.example")
            drv.run("click", ftp, FTP_CUSTOM_ACCOUNT)
            drv.run("set-text", ftp, FTP_USER, "publisher")
            drv.run("set-text", ftp, FTP_PASSWORD, "s3cret")
            time.sleep(0.5)
            drv.shot(main, shots, "settings_ftp_editing" + suffix, SELECTOR + FTP_TEXTS + [FTP_DOMAIN, FTP_PASSWORD],
                     bar=True)
            drv.save(main)
            box = drv.wait_window("OrchardUI", 10)
            if box:
                drv.shot(box, shots, "settings_ftp_republish_message" + suffix, BOX_TEXTS)
            check(drv.message_box_text() == t["republish"], tag + "a saved FTP change warns that links need publishing "
                  "again")
            sent = [fields_68(r.body) for r in double.of(68)]
            check(sent == [(2, "ftp.orchard.example", 0, 136)], tag + "command 68 with the domain and no port: %r" % sent)
            account = [(r.body[2:130].decode("utf-16-le").split("\0")[0], r.body[130:258].decode("utf-16-le").split("\0")[0])
                       for r in double.of(66)]
            check(account == [("publisher", "s3cret")], tag + "command 66 with the account: %r" % account)

            # P2P settings.
            drv.select_page(main, SELECT_P2P)
            p2p = drv.page_of(main, P2P_SPEED)
            check((drv.out("text", p2p, P2P_SPEED), drv.out("text", p2p, P2P_PORT)) == ("512", "8001"),
                  tag + "the P2P page shows the server's speed and port")
            drv.run("set-text", p2p, P2P_PORT, "70000")
            drv.save(main)
            check(drv.message_box_text() == t["port range"], tag + "port 70000 is refused before anything is sent")
            check(double.of(116) == [] and drv.out("text", p2p, P2P_PORT) == "70000", tag + "and the typed port stays")
            drv.run("set-text", p2p, P2P_PORT, "8002")
            drv.run("set-text", p2p, P2P_SPEED, "300")
            drv.run("post", drv.out("find-item", p2p, P2P_LEVEL).split()[0], CB_SETCURSEL, 2)
            time.sleep(0.5)
            drv.shot(main, shots, "settings_p2p" + suffix, SELECTOR + P2P_TEXTS, bar=True)
            drv.save(main)
            box = drv.wait_window("", 10)
            if box:
                drv.shot(box, shots, "settings_p2p_refused_port" + suffix, BOX_TEXTS)
            check(drv.message_box_text(title="") == t["refused port"],
                  tag + "the server's reason for a refused port is shown, without a caption")
            speeds = [struct.unpack_from("<I", r.body, 2)[0] for r in double.of(114)]
            levels = [struct.unpack_from("<H", r.body, 2)[0] for r in double.of(115)]
            ports = [struct.unpack_from("<H", r.body, 2)[0] for r in double.of(116)]
            check((speeds, levels, ports) == ([300], [8], [8002]), tag + "speed, level and port sent once each: %r"
                  % ((speeds, levels, ports),))
            check(drv.out("text", p2p, P2P_PORT) == "8001", tag + "the refused port gives way to the server's own")
            drv.save(main)
            check(drv.wait_window("", 3) is None and len(double.of(116)) == 1 and len(double.of(114)) == 1,
                  tag + "saving again sends nothing: what the page shows is the server's")

            # The peer list.
            check(drv.tab(main, 1), tag + "the peer tab")
            users = drv.item(main, USER_LIST)[0]
            ok, (header, rows) = wait_rows(drv, users, lambda rs: len(rs) == 60, 10)
            check(ok, tag + "the peer list shows the 60 peers")
            check(header[:1] == ["PeerID/180"] and len(header) == 15, tag + "15 columns: %r" % header)
            ids = [int(r[0].split(" : ")[0]) for r in rows]
            check(ids == sorted(ids, reverse=True), tag + "sorted by peer id, largest first")
            # Clicks on a column the window shows: another column sorts largest first, the same one flips.
            drv.run("column-click", users, 2)
            transports = [int(r[2]) for r in drv.rows(users)[1]]
            check(transports == sorted(transports, reverse=True) and len(set(transports)) == 2,
                  tag + "sorted by transport, the largest first: %s" % "".join(map(str, transports)))
            drv.run("column-click", users, 2)
            transports = [int(r[2]) for r in drv.rows(users)[1]]
            check(transports == sorted(transports) and len(transports) == 60, tag + "a second click flips the order")
            drv.run("list-select", users, 1, 3)
            time.sleep(0.6)
            drv.shot(main, shots, "peers_page" + suffix, [USER_LIST], bar=True)

            # The upload list: only files being sent, and their count.
            check(drv.tab(main, 2), tag + "the upload tab")
            files = drv.item(main, UPLOAD_LIST)[0]
            sending = sum(1 for r in uploads(language, 40) if struct.unpack_from("<I", r, 296)[0] != 0)
            ok, (header, rows) = wait_rows(drv, files, lambda rs: len(rs) == sending, 10)
            check(ok and 0 < sending < 40, tag + "the upload list shows the %d files being sent" % sending)
            count_page = drv.page_of(main, UPLOAD_COUNT)
            check(drv.out("text", count_page, UPLOAD_COUNT) == t["uploading"] % sending, tag + "with their count")
            drv.run("column-click", files, 6)
            speeds = [size_of(r[6]) for r in drv.rows(files)[1]]
            check(speeds == sorted(speeds, reverse=True) and len(set(speeds)) > 1,
                  tag + "sorted by speed, the fastest first: %r" % [r[6] for r in drv.rows(files)[1]][:8])
            drv.run("list-select", files, 0)
            time.sleep(0.6)
            drv.shot(main, shots, "uploads_page" + suffix, [UPLOAD_LIST, UPLOAD_COUNT], bar=True)

            leave(drv, main, ui)
        finally:
            if ui is not None:
                ui.kill()
            remove_work_dir(folder)

# ---------------------------------------------------------------- real server

LIMIT_KB = 96
SHOW = "Planet Earth II S01E01 1080p.mkv"


def server_command(code, args=b""):
    with oc.ChannelClient() as c:
        return oc.split_status(c.send(oc.command(code, args)))


def server_p2p_setting():
    """Command 113: (maximum upload speed in KB/s, log level, port), None when refused."""
    status, payload = server_command(113)
    return struct.unpack_from("<IHH", payload) if status == 200 and len(payload) >= 8 else None


def server_ftp():
    """Commands 65 and 67: (user, password digest, host, port), None when refused."""
    status, account = server_command(65)
    again, address = server_command(67)
    if status != 200 or again != 200 or len(account) < 260 or len(address) < 130:
        return None
    text = lambda raw: raw.decode("utf-16-le").split("\0", 1)[0]
    return text(account[0:128]), text(account[128:256]), text(address[0:128]), struct.unpack_from("<H", address, 128)[0]


def publish_show(doubles, media):
    """Publishes the folder with command 2; the show's fid once the super node has it."""
    check(server_command(2, path_field(win(media)))[0] == 200, "command 2 publishes the folder")
    ok = wait_until(lambda: server_listing(win(media)).get(SHOW, {}).get("state") == PUBLISHED, 180)
    fid = server_listing(win(media)).get(SHOW, {}).get("fid")
    if not check(ok and fid, "the show is published"):
        return None
    shared = lambda: any(fid in e["fids"] for e in doubles.events if e["kind"] == "share_batch")
    return bytes.fromhex(fid) if check(wait_until(shared, 60), "the super node got its fid") else None


def against_real_server(wine, bin_dir, shots):
    doubles, server = publishing_server(wine, bin_dir)
    media = tempfile.mkdtemp(prefix="orchard_server_pages_media_")
    data = pp.random_bytes(6 * 2 ** 20 + 321, 7)
    with open(os.path.join(media, SHOW), "wb") as f:
        f.write(data)
    folder = prepare(bin_dir, ["OrchardUI.exe", "ui_driver.exe"], {"OrchardMon.exe": "ui_driver.exe"})
    write_ini(folder, "od_ui_cfg.ini", "[site]\ncount=1\nlastconn=127.0.0.1\n[site_1]\naddress=127.0.0.1\nport=9090\n"
              "auto=1\n")
    drv = SettingsDriver(wine, folder, DESKTOP + "_real")
    t = TEXTS["zh"]
    tag = "[real] "
    ui = None
    peer = None
    download = None
    try:
        if not server.start(0):
            return
        fid = publish_show(doubles, media)
        if fid is None:
            return
        ui = start_ui_in_desktop(wine, folder, "zh_CN.UTF-8", drv.desktop)
        main = drv.wait_window("Orchard", 60)
        if not check(main is not None, tag + "OrchardUI logs in to OrchardSvc"):
            return
        drv.run("move", main, 40, 20, 1180, 820)

        info = drv.page_of(main, INFO["state"])
        check(wait_until(lambda: drv.out("text", info, INFO["files"]) == "1" and drv.out("text", info, INFO["os"])
                         not in ("", "0"), 15), tag + "the information page shows the published file and the system")
        check(drv.out("text", info, INFO["state"]) == t["running"], tag + "and that the server runs")

        # The upload limit typed in the P2P page reaches the server.
        drv.select_page(main, SELECT_P2P)
        p2p = drv.page_of(main, P2P_SPEED)
        check(drv.out("text", p2p, P2P_SPEED) == "0", tag + "the P2P page starts with no limit")
        drv.run("set-text", p2p, P2P_SPEED, str(LIMIT_KB))
        drv.save(main)
        check(wait_until(lambda: (server_p2p_setting() or (0,))[0] == LIMIT_KB, 10),
              tag + "command 113 reads back the limit saved in the page: %r" % (server_p2p_setting(),))

        # A peer the super node introduces downloads the show, held back by the limit.
        peer = pp.UdpPeer(server.p2p_port, 8001)
        doubles.relay_call_me(8001, peer.port, fid, len(data), version=b"\x01\x00\x03\x24" + bytes(4) + b"peer-v2.exe")
        check(peer.command({w.HANDSHAKE_ANSWER}, 10) is not None, tag + "the core answers the peer's call-me")
        got = {}
        download = threading.Thread(target=lambda: got.update(peer.download(fid, len(data), wrapped=False, window=8,
                                                                            seconds=30)))
        download.start()

        check(drv.tab(main, 1), tag + "the peer tab")
        users = drv.item(main, USER_LIST)[0]
        ok, (_, rows) = wait_rows(drv, users, lambda rs: any(r[0].startswith("8001 : ") for r in rs), 20)
        row = next((r for r in rows if r[0].startswith("8001 : ")), [""] * 15)
        check(ok and row[5] == SHOW and row[4] == fid.hex().upper() and row[3].startswith("peer-v2.exe("),
              tag + "the serving peer shows in the peer list with its file and version: %r" % row)
        drv.run("list-select", users, rows.index(row) if row in rows else 0)
        time.sleep(2.5)
        drv.shot(main, shots, "peers_page_real_server", [USER_LIST], bar=True)

        check(drv.tab(main, 2), tag + "the upload tab")
        files = drv.item(main, UPLOAD_LIST)[0]
        ok, (_, rows) = wait_rows(drv, files, lambda rs: any(r[1] == SHOW for r in rs), 20)
        row = next((r for r in rows if r[1] == SHOW), [""] * 7)
        check(ok and row[0] == fid.hex().upper() and row[2] == "6.00 MB", tag + "its upload shows in the upload list: "
              "%r" % row)
        check(drv.out("text", drv.page_of(main, UPLOAD_COUNT), UPLOAD_COUNT) == t["uploading"] % 1,
              tag + "as the one file being sent")
        drv.shot(main, shots, "uploads_page_real_server", [UPLOAD_LIST, UPLOAD_COUNT], bar=True)
        download.join(60)
        # Over the whole download, as a loaded machine may bunch the packets of one second with the next
        # (the limiter's own seconds are the serving test's business).
        received = sum(n for _, n in peer.arrivals)
        span = peer.arrivals[-1][0] - peer.arrivals[0][0] if peer.arrivals else 0
        check(0 < len(got) and received <= LIMIT_KB * 1024 * (span + 2),
              tag + "the peer got %d blocks, %d bytes in %.1f s" % (len(got), received, span))
        check(all(block == data[i * 1024:(i + 1) * 1024] for i, block in got.items()), tag + "every block is the file's")

        # FTP settings: an address and an account typed in the page reach the server (68 and 66, read by 67 and 65).
        check(drv.tab(main, 3), tag + "the settings tab")
        drv.select_page(main, SELECT_FTP)
        ftp = drv.page_of(main, FTP_PORT)
        before = server_ftp() or ("?", "", "", 0)
        shown = drv.out("text", ftp, FTP_USER), drv.out("text", ftp, FTP_PORT)
        user = "" if before[0] == "anonymous" else before[0]  # the server's stand-in for no account is not shown
        check(shown == (user, str(before[3])), tag + "the FTP page shows the server's user and port: %r, %r"
              % (shown, before))
        drv.run("click", ftp, FTP_BY_IP)
        drv.set_ip(ftp, 127, 0, 0, 1)
        drv.run("set-text", ftp, FTP_PORT, "2122")
        drv.run("click", ftp, FTP_CUSTOM_ACCOUNT)
        drv.run("set-text", ftp, FTP_USER, "publisher")
        drv.run("set-text", ftp, FTP_PASSWORD, "s3cret")
        time.sleep(0.5)
        drv.shot(main, shots, "settings_ftp_real_server", SELECTOR + FTP_TEXTS + [FTP_IP, FTP_PASSWORD], bar=True)
        drv.save(main)
        check(drv.message_box_text() == t["republish"], tag + "the saved FTP change warns that links need publishing "
              "again")
        expected = ("publisher", hashlib.md5(b"s3cret").hexdigest().upper(), "127.0.0.1", 2122)
        check(server_ftp() == expected, tag + "commands 65 and 67 read back the saved account and address: %r"
              % (server_ftp(),))

        # Stopped from the menu and started again (as the watchdog would): the settings are still there.
        drv.run("command", main, STOP_ITEM)
        check(server.proc.wait(30) == 0, tag + "the stop item ends OrchardSvc with 0")
        drv.select_page(main, SELECT_INFO)  # hidden pages do not refresh
        check(wait_until(lambda: drv.out("text", info, INFO["state"]) == t["stopped"], 10),
              tag + "the information page shows the server stopped")
        drv.run("command", main, START_ITEM)  # runs the watchdog's start (a stand-in here) and polls again
        if not server.start(1):
            return
        check(server_p2p_setting() is not None and server_p2p_setting()[0] == LIMIT_KB,
              tag + "the limit survives the restart: %r" % (server_p2p_setting(),))
        check(server_ftp() == expected, tag + "so do the FTP account and address: %r" % (server_ftp(),))
        check(wait_until(lambda: drv.out("text", info, INFO["state"]) == t["running"], 20),
              tag + "the UI finds the server again")
        drv.select_page(main, SELECT_P2P)
        drv.run("set-text", p2p, P2P_SPEED, "5")
        drv.undo(main)
        check(drv.out("text", p2p, P2P_SPEED) == str(LIMIT_KB), tag + "undo on the P2P page shows the restarted "
              "server's limit")
        drv.shot(main, shots, "settings_p2p_real_server", SELECTOR + P2P_TEXTS, bar=True)
        drv.run("command", main, STOP_ITEM)
        check(server.proc.wait(30) == 0, tag + "the restarted server stops")
        leave(drv, main, ui)
    finally:
        if download is not None:
            download.join(60)
        if peer is not None:
            peer.close()
        if ui is not None:
            ui.kill()
        server.kill()
        doubles.stop()
        if check.failures:
            log = os.path.join(folder, "od_client.Log")
            print("od_client.Log:\n" + (open(log, encoding="latin-1").read()[-3000:] if os.path.exists(log) else ""))
            print("od_server.Log:\n" + server.log()[-4000:])
        remove_work_dir(server.folder)
        remove_work_dir(folder)
        shutil.rmtree(media, ignore_errors=True)


def main():
    return run_parts("ORCHARD_UI_SERVER_PAGES_PARTS", with_server_double, against_real_server)


if __name__ == "__main__":
    sys.exit(main())
