#!/usr/bin/env python3
"""Writes the hand-made seed inputs (seed-*) of every fuzz target into fuzz/corpus/<target>/.

The targets take settings from the front of an input in a binary layout of their own; this
script is where that layout is spelled out for people. Run it from anywhere; it only
overwrites seed-* files, never what the fuzzer found."""

import os
import struct

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")


def read(rel):
    with open(os.path.join(ROOT, rel), "rb") as f:
        return f.read()


def b(text):
    return text.encode("latin1") if isinstance(text, str) else text


def lp(text):
    """A length-prefixed text (FuzzInput::text)."""
    data = b(text)
    assert len(data) < 256
    return bytes([len(data)]) + data


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


MDFS = {
    "vmc-iso-xonxoff": read("examples/machines/VMC-ISO-XONXOFF.MDF"),
    "lathe-eia": read("examples/machines/LATHE-EIA.MDF"),
    "tape-file-ascii": read("examples/machines/TAPE-FILE-ASCII.MDF"),
}
ODD_MDF = b(
    "\xef\xbb\xbf[MCN_Info]\r\nVersion=180\r\n[mcn_rs232c]\r\nPortNo = 3\r\nBaudRate=99\r\n"
    "HandShake=-1\r\nPtrStart=0x11\r\nPortName=\"  /dev/ttyUSB0  \"\r\n[MCN_Config]\r\n"
    "PtpNull=10,20\r\nPtpSpace=1;2;3;4\r\nNnoBase=2147483648\r\nNnoIncr=-5\r\n"
    "PtpUser0=1214\r\nPtpUser1=\"\"\r\nDefExt=*.nc\r\nDefDir=\"/home/ann/nc \"\r\n"
    "SendSkipCode=M01,M00\r\nSendSkipLine=/\r\nReceiveSkipCode=X*\r\nPtrTimeOut=\r\n"
    "[MCN_Config]\r\nTVCheck=1\r\n")
PROGRAMS = {
    "shaft": read("examples/programs/SHAFT.NC"),
    "bracket": read("examples/programs/BRACKET.NC"),
}


def ini():
    for name, text in MDFS.items():
        write("IniFuzz", "mdf-" + name, bytes([200, 3]) + lp("MCN_Config") + lp("PtpNull")
              + lp("5;6;7") + text)
    write("IniFuzz", "odd-mdf", bytes([16, 1]) + lp("MCN_RS232C") + lp("PortName")
          + lp(" /dev/ttyUSB0 ") + ODD_MDF)
    write("IniFuzz", "crlf-bom", bytes([8, 2]) + lp("new section") + lp("Key") + lp("\"quoted\"")
          + b"\xef\xbb\xbf[Sec]\r\nkey = \"  padded  \"\r\nKEY=second\r\n; comment\r\n[sec]\r\n"
          b"other=1,2;3\r\n")
    write("IniFuzz", "duplicate-sections", bytes([4, 4]) + lp("a") + lp("x") + lp("")
          + b"[a]\nx=1\n[A]\nx=2\ny=-2147483649\n[ b ]\n z = 99999999999 \n=nokey\n[c\nk=v\n")


def machine():
    for name, text in MDFS.items():
        write("MachineDefFuzz", name, text)
    write("MachineDefFuzz", "odd-values", ODD_MDF)
    write("MachineDefFuzz", "long-values", b("[MCN_Config]\nPtpUser0=" + "12" * 200 + "\nDefDir="
                                             + "/d" * 300 + "\nDefExt=" + "x" * 300 + "\n"))


CFG = b(
    "[CFG_Info]\nVersion=320\n[CFG_Setting]\nWindowPos=10;20;800;600\nWindowShow=1\nToolBar=1\n"
    "StatusBar=1\nMenuBar=1\nOneInstance=0\nrgbBKColor=16777215\nrgbFGColor=0\n"
    "rgbCtlColor=65535\nrgbFlowColor=255\nMcnFile=\nEcho=1\nBkShading=1\n[CFG_History]\n"
    "NcFile00=/home/ann/nc/SHAFT.NC\nNcFile01=\" /home/ann/nc/with blank \"\nMcnFile00=/x.MDF\n"
    "[CustomColor]\nItem00=255\nItem15=-1\n")
LEGACY = b(
    "[NC_CONFIG]\nOutCode=1\nErCode=-1\nTvCheck=2\nOutComment=0\nNnoBase=10\nNnoIncr=10\n"
    "UserPtpStart=1214\nTextBKColor=0,0,128\nTextFGColor=255,255,255\n[RS_CONFIG]\nPortNo=5\n"
    "BaudRate=-1\nStopBit=1\n[SYS_CONFIG]\nExVersion=3932161\nWindowPos=500,10,10,400\n"
    "DefExt=.nc\nDefDir=C:\\NC\n")


def config_header(flags, screen=(0, 0, 1920, 1080), window=0xFFFFFF, text=0):
    left, top, width, height = screen
    return bytes([flags]) + struct.pack("<hhHHII", left * 8, top * 8, width - 320,
                                        height - 240, window, text)


def config():
    write("ConfigFuzz", "cfg", config_header(0) + CFG)
    write("ConfigFuzz", "cfg-fitted", config_header(2) + CFG.replace(
        b"WindowPos=10;20;800;600", b"WindowPos=-3000;20;-2900;60"))
    write("ConfigFuzz", "cfg-with-machine", config_header(3) + CFG
          + b"\n" + MDFS["vmc-iso-xonxoff"])
    write("ConfigFuzz", "legacy", config_header(1) + LEGACY)
    write("ConfigFuzz", "legacy-fitted", config_header(3, (100, 50, 1024, 768)) + LEGACY)
    write("ConfigFuzz", "old-version", config_header(2) + b"[CFG_Info]\nVersion=300\n"
          b"[CFG_Setting]\nWindowPos=2147483647,0,-2147483648,100\nBkShading=1\n")


def command_line():
    lines = {
        "send-two": (2, "EXIT \"SHAFT.NC\" /home/ann/nc/BRACKET.NC", ["EXIT", "SHAFT.NC"]),
        "switches": (17, "/TOPMOST -CREATE /JP /US /CFG=\"my shop.cfg\" /MDF=lathe.mdf "
                         "/NOTIFY=1a2b3c4d", ["/CFG=my shop.cfg", "-MDF=a b.mdf", "/K"]),
        "k-switch": (3, "/Kshop /K\"my shop\" -K /k.cfg", ["/Kmy shop", "x\"y z", "\""]),
        "slash-paths": (16 | 2, "/home/ann/a.nc /EXIT /CFG=/etc/a.cfg \"C:\\nc\\a.nc\"",
                        ["/home/ann/a b.nc", "", "  "]),
        "quotes": (4, "\"a b\" \"unterminated c d", ["\"a\" b", "a\tb\nc"]),
        "long": (8, "/CFG=" + "d/" * 150 + " " + "x" * 600, ["y" * 600]),
    }
    for name, (flags, line, args) in lines.items():
        data = bytes([flags]) + b(line) + b"\0" + b"\0".join(b(a) for a in args)
        write("CommandLineFuzz", name, data)
    many = " ".join("F%02d.NC" % i for i in range(40))
    write("CommandLineFuzz", "forty-files", bytes([2]) + b(many))


def skip_rules():
    cases = {
        "skip-line-word": (0, "M30", "", "G00 M030"),
        "skip-line-slash": (0, "/", "", "/G01 X10"),
        "skip-function-pair": (0, "", "M01,M00", "M01 M00 M01"),
        "skip-function-wildcard": (0, "", "X*", "G01X10.5Y3X-2"),
        "exponent": (0, "", "X100", "X1E2Y1e-2Z.5"),
        "plain-text": (0, "", "m08, (MSG", "G01 m08 (MSG HELLO)"),
        "empty-item-ends": (0, "", "M01, ,M02", "M01M02"),
        "both-rules": (0, "M02", "M02", "M02"),
        "line-rule-null": (1, "G0", "G0 1", "G0 G01 G00"),
        "joined-match": (0, "", "X1,Y", "XY11"),
    }
    for name, (flags, line_rule, code_rule, block) in cases.items():
        write("SkipRulesFuzz", name, bytes([flags]) + b(line_rule) + b"\0" + b(code_rule) + b"\0"
              + b(block))


def receive_header(begin=1, eof=1, space=2, code=0, hand=1, start=0x11, stop=0x13,
                   ptp_stop=0x14, timeout=0, flags=2, chunk=255, gap=0, user0="", user1="",
                   skip_line="", skip_code=""):
    return (bytes([begin, eof, space, code, hand, start, stop, ptp_stop, timeout, flags, chunk,
                   gap]) + lp(user0) + lp(user1) + lp(skip_line) + lp(skip_code))


def receive():
    program = PROGRAMS["shaft"].replace(b"\n", b"\r\n")
    write("ReceiveFuzz", "iso-percent", receive_header() + b"\0\0\0" + program)
    write("ReceiveFuzz", "dc4-end", receive_header(begin=0, eof=2, user0="1214", user1="15")
          + b"G1\nG2 X1 \n\x14")
    write("ReceiveFuzz", "time-out-mid-line", receive_header(begin=0, eof=0, space=1, timeout=50,
                                                            chunk=4, gap=200) + b"  G01 X1   \nM3")
    write("ReceiveFuzz", "device-file", receive_header(flags=3) + b"%\nO1\nG0X0\n%")
    write("ReceiveFuzz", "xoff-in-data", receive_header(begin=0, eof=3, user1="12")
          + b"G1\n\x13G2\n\x11%")
    # EIA: end of block 0x80, '%' as 0x0B, digits and letters with their parity bits.
    write("ReceiveFuzz", "eia", receive_header(begin=1, eof=1, code=1, hand=0)
          + bytes([0x0B, 0x80, 0x67, 0x20, 0x01, 0x80, 0x0B]))
    write("ReceiveFuzz", "long-line", receive_header(begin=0, eof=1, space=0, skip_code="M08",
                                                     skip_line="/")
          + b"G" * 1100 + b"\n/skip\nM08 X1\n%")


def send_block():
    def header(flags, base=10, incr=10, skip_line="", skip_code=""):
        return bytes([flags, base, incr]) + lp(skip_line) + lp(skip_code)
    # flags: 1 Comment kept, 2 DeleteErCode, 4 WordBreak, 8 SendSpace, 16/32 TVCheck,
    # 64 whole lines too, 128 numbering from full 32-bit values.
    write("SendBlockFuzz", "shaft-numbered", header(4 | 16) + PROGRAMS["shaft"])
    write("SendBlockFuzz", "bracket-comments-kept", header(1 | 8 | 32, 0, 0)
          + PROGRAMS["bracket"].replace(b"\n", b"\r\n"))
    write("SendBlockFuzz", "skip-rules", header(2 | 4 | 8, 5, 5, "/", "M08,X*")
          + b"G01X-10.Y20.M08\n/G00\n  (ONLY A COMMENT)\n\n(A)B(C\nx10y20\n%\n")
    write("SendBlockFuzz", "long-line", header(64 | 16) + b"G01X1." * 100 + b"\n" + b"Y" * 511
          + b"\n")
    write("SendBlockFuzz", "wrapping-numbers", bytes([128 | 4, 0xF0, 0xFF, 0xFF, 0x7F, 0x10,
                                                      0, 0, 0]) + lp("") + lp("")
          + b"G00X0\nG01X1\nG02X2\n")


def hand_over():
    def record(flags, notify, machine_path, file_path):
        body = struct.pack("<II", flags, notify)
        body += b(machine_path).ljust(260, b"\0") + b(file_path).ljust(260, b"\0")
        return body

    def frame(kind, body):
        return struct.pack("<II", kind, len(body)) + body
    full = record(7, 0x1A2B3C4D, "/home/ann/lathe.MDF", "/home/ann/nc/SHAFT.NC")
    write("HandOverFuzz", "record", struct.pack("<I", 0xC0000002) + full)
    write("HandOverFuzz", "record-file-only", struct.pack("<I", 0xC0000002)
          + record(2, 0, "", "SHAFT.NC") + b"trailing")
    write("HandOverFuzz", "record-unterminated", struct.pack("<I", 0xC0000002)
          + struct.pack("<II", 1, 0) + b"m" * 260 + b"\0" * 260)
    write("HandOverFuzz", "path", struct.pack("<I", 0xC0000001) + b"/home/ann/nc/SHAFT.NC\0")
    write("HandOverFuzz", "stream", frame(0xC0000002, full) + frame(0x0111, struct.pack("<I", 5000))
          + frame(0x05FE, struct.pack("<I", 1)) + frame(0xC0000001, b"a.nc\0")[:9])
    write("HandOverFuzz", "oversized", struct.pack("<II", 0x0111, 4097) + b"x" * 16)


IAC, SB, SE, WILL, WONT, DO, DONT = 255, 250, 240, 251, 252, 253, 254


def rfc2217():
    # Header: command count (0..7), then per command one byte (1 + n % 12) and four value bytes
    # (little end first), then the probe flag; the rest is what the server sends.
    def header(commands=(), probe=0):
        out = bytes([len(commands)])
        for command, value in commands:
            out += bytes([command - 1]) + struct.pack("<I", value)
        return out + bytes([probe])

    def sub(command, *value):
        return bytes([IAC, SB, 44, command]) + bytes(value) + bytes([IAC, SE])

    settings = ((1, 9600), (2, 7), (3, 3), (4, 2), (5, 1), (5, 11))
    ser2net = (bytes([IAC, DO, 44, IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3, IAC, DO, 1])
               + sub(101, 0, 0, 0x25, 0x80) + sub(102, 7) + sub(103, 3) + sub(104, 2)
               + sub(105, 1) + sub(107, 0x30))
    write("Rfc2217Fuzz", "ser2net-answers", header(settings, 1) + ser2net + b"%\r\nO0012\r\n%")
    write("Rfc2217Fuzz", "doubled-iac-data", header() + b"A" + bytes([IAC, IAC]) + b"B"
          + bytes([IAC, 241, IAC, 249]) + b"C")
    write("Rfc2217Fuzz", "refusals", header(settings[:2]) + bytes([IAC, DONT, 44, IAC, WONT, 0,
          IAC, WILL, 1, IAC, DO, 24, IAC, WILL, 1, IAC, DO, 24]))
    write("Rfc2217Fuzz", "long-sub", header(((1, 115200),)) + bytes([IAC, SB, 44, 101])
          + b"x" * 80 + bytes([IAC, IAC, IAC, SE]) + sub(101, 0, 1, 0xC2, 0))
    write("Rfc2217Fuzz", "broken-sub-end", header(((2, 8),)) + bytes([IAC, SB, 44, 102, 8, IAC])
          + b"data")


def program_scan():
    # First byte: lines scanned (n % 12); the rest is the program.
    write("ProgramScanFuzz", "number-and-request", bytes([5])
          + b"%\r\nO0012 (REQ = SHAFT-2.NC )\r\nG0X0\r\n%\r\n")
    write("ProgramScanFuzz", "prg-dirlist", bytes([3]) + b"\n\n  %  \n(prg=dirlist)\nO1")
    write("ProgramScanFuzz", "late-request", bytes([2]) + b"O1\nO2\n(REQ=X)\n")
    write("ProgramScanFuzz", "unclosed", bytes([5]) + b"(note)(REQ=../../etc/passwd\n")
    write("ProgramScanFuzz", "nine-digits", bytes([5]) + b"O123456789\nO12345678\n")


def port_address():
    for name, text in (("com", "COM3"), ("number", " 256 "), ("device", "/dev/ttyUSB0"),
                       ("bare-tty", "ttyS1"), ("raw", "tcp://ser2net.shop.lan:3001"),
                       ("rfc2217-v6", "rfc2217://[fe80::1%eth0]:2217"),
                       ("rfc2217", "RFC2217://10.0.0.5:65535"), ("no-port", "tcp://host:")):
        write("PortAddressFuzz", name, b(text))


def broker_address():
    # First byte even: an address; odd: a topic prefix, a newline and a topic.
    for name, text in (("mqtt", "mqtt://broker.shop.lan"), ("mqtts-port", "mqtts://10.0.0.2:8884/"),
                       ("v6", "mqtts://[::1]:8883"), ("account", "mqtt://user:pw@host:1883"),
                       ("bracket-name", "mqtt://[broker]:1")):
        write("BrokerAddressFuzz", name, bytes([0]) + b(text))
    write("BrokerAddressFuzz", "topic", bytes([1]) + b"corvane/\ncorvane/mill1/state")
    write("BrokerAddressFuzz", "topic-wild", bytes([1]) + b"shop/a/\nshop/a/+/command")


def line_file():
    write("LineFileFuzz", "readme", b"""[Line]
Name=mill1
Machine=/etc/corvane/mill1.MDF
Port=rfc2217://ser2net.shop.lan:3001
Inbox=/var/lib/corvane/mill1
Library=/srv/nc/library
Journal=journal.jsonl ; relative to this file
RequestDelay=3000
ScanLines=5
Broker=mqtts://dnc-broker.shop.lan        ; or mqtt://HOST:PORT, or serve --broker URL
BrokerCa=/etc/corvane/shop-ca.crt         ; the CA that signed the broker's certificate
BrokerUser=mill1
BrokerPasswordFile=/etc/corvane/mill1.password   ; the password never stands in this file
TopicPrefix=corvane/                      ; the default
""")
    write("LineFileFuzz", "quoted-and-odd", b'\xef\xbb\xbf[line]\r\nname = "a ; b"\r\nPort=;x\r\n'
          b"Inbox=in;box\t;\r\n[Other]\r\nName=x\r\n")
    write("LineFileFuzz", "no-section", b"Name=mill1\n[Lines]\nPort=1\n")


def shop_command():
    for name, text in (("send", '{"send":"O0012.NC","id":"web-1"}'), ("cancel", '{"cancel":true}'),
                       ("both", '{"send":"A","cancel":true,"id":"x"}'),
                       ("escapes", '{"send":"a\\u00e9\\ud83d\\ude00","id":"\\"q\\""}'),
                       ("nested", '{"send":{"a":1}}'), ("long-id", '{"cancel":true,"id":"' + "i" * 127
                                                        + '\u00e9"}'),
                       ("duplicate", '{"send":"A","send":"B"}'), ("number", '{"send":1e400}')):
        write("ShopCommandFuzz", name, text.encode("utf-8"))


def shop_state():
    # First byte: the width the line name is padded to.
    for name, text in (
            ("sending", '{"line":"m1","state":"sending","file":"O1.NC","position":512,"total":2048,'
                        '"time":"t","served":true,"last_result":"completed","last_file":"O0.NC",'
                        '"last_time":"T"}'),
            ("huge", '{"line":"m1","state":"sending","file":"f","position":1e30,"total":3}'),
            ("negative", '{"line":"m1","state":"sending","file":"f","position":-1,"total":1.5}'),
            ("controls", '{"line":"m\\u001b[2J","state":"idle\\u009b","file":"\\u007f"}'),
            ("offline", '{"line":"m1","state":"offline","served":false}')):
        write("ShopStateFuzz", name, bytes([8]) + text.encode("utf-8"))


if __name__ == "__main__":
    ini()
    machine()
    config()
    command_line()
    skip_rules()
    receive()
    send_block()
    hand_over()
    rfc2217()
    program_scan()
    port_address()
    broker_address()
    line_file()
    shop_command()
    shop_state()
