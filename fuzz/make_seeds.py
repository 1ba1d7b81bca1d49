#!/usr/bin/env python3
"""Writes the seed corpora under fuzz/corpus/ (run once by hand; the seeds are committed).

Each seed follows the input layout described at the top of its fuzz target."""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def put(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def utf16(text):
    return text.encode("utf-16-le")


# ---- request_fuzz: [flags][cbData:2][slack][pid:4][reserved:4][path...][FFFF][request] ----
def request(name, text, flags=0x07, cb=None, slack=0, path="C:\\Apps\\tool64.exe", nested=b""):
    body = utf16(text)
    cb = len(body) if cb is None else cb
    head = struct.pack("<BHBII", flags, cb, slack, 4242, 0)
    put("request", name, head + utf16(path) + b"\xff\xff" + body + nested)


request("getpath", "GetPath 0x00010020 0x00010040\0")
request("getpath_tabs", "\t GetPath\t0x00010020  0x00010040 0x1\t\0")
request("getpath_lower", "getpath 0x0001002 0xffffffff\0")
request("getpath_one_arg", "GetPath 0x00010020\0")
request("getpath_bad_prefix", "GetPath 0X00010020 00010040\0")
request("getpath_nine_digits", "GetPath 0x123456789 0x0000000a\0")
request("getpath_long_path", "GetPath 0x00000001 0x00000002\0", path="C:\\" + "d" * 300)
request("getpath_no_window", "GetPath 0x00000001 0x00000002\0", flags=0x00)
request("exit", "Exit\0")
request("exit_upper_args", "EXIT now please\0")
request("exit_crlf", "Exit\r\n\0")
request("empty", "\0")
request("blanks", "  \t \0")
request("no_terminator", "GetPath 0x00000001 0x00000002")
request("odd_cbdata", "GetPath 0x00000001 0x00000002\0", cb=61)
request("short_cbdata", "GetPath 0x00000001 0x00000002\0", cb=10)
request("slack", "Exit\0", cb=8, slack=0x21)
request("too_long", "GetPath " + "x" * 1100 + "\0")
request("max_length", "GetPath 0x00000001 0x00000002 " + "y" * (1023 - 30) + "\0")
inner = utf16("GetPath 0x00000003 0x00000004\0")
request("nested", "GetPath 0x00000001 0x00000002\0", flags=0x0F, nested=inner)


# ---- handle_text_fuzz: [form][text bytes...] ----
def handle(name, text, form=0):
    encoding = ("latin-1", "utf-16-le", "utf-32-le")[form]
    put("handle_text", name, bytes([form]) + text.encode(encoding))


for i, text in enumerate(["123", "  \t\n\v\f\r+123abc", "-1", "4294967295", "4294967296",
                          "2147483647", "2147483648", "-2147483648", "-2147483649",
                          "99999999999999999999999", "0x1f", "", "+", "-", " -0"]):
    for form in (0, 1, 2):
        handle("case%02d_form%d" % (i, form), text, form)
handle("wide_high_units", "\u3131\uff11 1\u0661", 1)


# ---- settings_fuzz: [mode][firm][app][ops...] (see settings_fuzz.cpp for the op codes) ----
def text8(s):
    b = s.encode("latin-1")
    return struct.pack("<H", len(b)) + b


def settings(name, body, mode=0):
    put("settings", name, bytes([mode]) + body)


base = text8("Orvane") + text8("Quillon")
settings("expand_default", base + b"\x02" + text8("Software\\*firm*\\*app*\\Options\\Windows\\Main"))
settings("firm_holds_app", text8("A*app*B") + text8("Q") + b"\x02" + text8("*firm*/*app*/*firm*"))
settings("readd_firm", base + b"\x00" + text8("*firm*") + text8("Other") + b"\x02" +
         text8("x*firm*y*app*z"))
settings("remove_app", base + b"\x01" + text8("*app*") + b"\x02" + text8("*app**app*"))
settings("self_replacement", base + b"\x00" + text8("ab") + text8("abab") + b"\x02" +
         text8("aaabbbabab"))
settings("dbcs", base + b"\x00" + text8("\x5c") + text8("/") + b"\x02" + text8("\x81\x5c\x5c\x81"),
         mode=1)
settings("read_file_long", base + b"\x03" + text8("C:\\users\\me\\AppData\\Roaming") +
         text8("Quillon.cfg") + struct.pack("<H", 2000))
settings("read_file_767", base + b"\x03" + text8("C:\\x") + text8("Q.cfg") +
         struct.pack("<H", 767))
settings("path_too_long", base + b"\x03" + text8("C:\\" + "p" * 240) + text8("Quillon.cfg") +
         struct.pack("<H", 5))
settings("read_registry", base + b"\x04" + text8("Options") + text8("Handle") +
         text8("1\x002\x003"))
settings("wide_expand", base + b"\x02" + text8("Software\\*firm*\\*app*\\"), mode=2)
settings("oom_narrow", base + b"\x05\x03" + b"\x02" + text8("*firm**app*"), mode=0)
settings("oom_wide", base + b"\x05\x02" + b"\x00" + text8("*x*") + text8("y") + b"\x02" +
         text8("*x**app*"), mode=2)
