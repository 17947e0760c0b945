#!/usr/bin/env python3
"""Resource check of the motion test program.

Reads the resource section of a built tlmtest6.exe / tlmtest4.exe (PE32 or
PE32+) and compares it with the table of what the program must carry:

  * the dialog templates IDD_DIALOG0..IDD_DIALOG4: styles, position and size,
    class, caption, font, and for every control its id, class, style bits,
    text and rectangle; no control missing, none extra;
  * the string table: every id with its exact text, no string missing or
    extra, and every text representable in code page 932 (the program loads
    them with LoadStringA);
  * the lamp bitmaps 10002..10004 (15 x 15, 16 colours, one solid colour)
    and that no bitmap 10001 exists (the lamps' template image);
  * the version resource 2.1.0.0 with its strings;
  * language Japanese (0x0411) for every resource.

Usage: check_resources.py [--axes 6|4] PROGRAM.exe
Exit code 0 when everything matches; otherwise each mismatch is printed as
"what: expected ..., got ..." and the exit code is 1.
"""
import argparse
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tools"))
from pecheck import PE  # noqa: E402

# ---------------------------------------------------------------------------
# Window style bits
# ---------------------------------------------------------------------------
WS_POPUP = 0x80000000
WS_CHILD = 0x40000000
WS_VISIBLE = 0x10000000
WS_DISABLED = 0x08000000
WS_CAPTION = 0x00C00000
WS_BORDER = 0x00800000
WS_VSCROLL = 0x00200000
WS_SYSMENU = 0x00080000
WS_TABSTOP = 0x00010000
DS_SETFONT = 0x40

SS_TYPEMASK = 0x1F
SS_LEFT, SS_CENTER, SS_RIGHT, SS_BITMAP = 0x0, 0x1, 0x2, 0xE
SS_SUNKEN = 0x1000
BS_TYPEMASK = 0xF
BS_PUSHBUTTON, BS_GROUPBOX = 0x0, 0x7
ES_AUTOHSCROLL = 0x80
ES_NUMBER = 0x2000
CBS_TYPEMASK = 0x3
CBS_DROPDOWNLIST = 0x3
TCS_FIXEDWIDTH = 0x400

RT_BITMAP, RT_DIALOG, RT_STRING, RT_VERSION = 2, 5, 6, 16
LANG_JAPANESE_DEFAULT = 0x0411

ORDINAL_CLASSES = {0x80: "button", 0x81: "edit", 0x82: "static",
                   0x83: "listbox", 0x84: "scrollbar", 0x85: "combobox"}

IDD_DIALOG = [100, 101, 102, 103, 104]
FONT = (12, "ＭＳ Ｐゴシック")


# ---------------------------------------------------------------------------
# Expected contents
# ---------------------------------------------------------------------------
class Ctl:
    """One expected control: class, text (None = not checked), rectangle,
    style bits that must be set, bits that must be clear, and the value of
    the type field (mask, value) where the control kind fixes it."""

    def __init__(self, cls, text, rect, need=0, forbid=0, kind=None, exact=None):
        self.cls = cls
        self.text = text
        self.rect = rect
        self.need = need | WS_CHILD | WS_VISIBLE
        self.forbid = forbid
        self.kind = kind
        self.exact = exact


def move(rect, dx, dy):
    x, y, w, h = rect
    return (x + dx, y + dy, w, h)


def push(text, rect):
    return Ctl("button", text, rect, WS_DISABLED, 0, (BS_TYPEMASK, BS_PUSHBUTTON))


def label(text, rect, align=None, need=0):
    kind = (SS_TYPEMASK, align) if align is not None else None
    return Ctl("static", text, rect, need, 0, kind)


def sunken_box(text, rect):
    """Static: sunken, bordered, centred."""
    return Ctl("static", text, rect, SS_SUNKEN | WS_BORDER, 0, (SS_TYPEMASK, SS_CENTER))


def group(rect):
    return Ctl("button", None, rect, 0, 0, (BS_TYPEMASK, BS_GROUPBOX))


def lamp(rect):
    # Text: the image id 10001 as an ordinal
    return Ctl("static", 10001, rect, 0, 0, (SS_TYPEMASK, SS_BITMAP))


def line(rect):
    return Ctl("static", None, rect, SS_SUNKEN, 0)


def text_static(rect):
    """A text display whose alignment is free: any static but a bitmap one."""
    return Ctl("static", None, rect, 0, 0, ("not-bitmap", None))


AXIS_NAMES = ["Ｘ軸", "Ｙ軸", "Ｚ軸", "Ｕ軸", "Ｖ軸", "Ｗ軸"]

OP_BUTTONS = ["＋定速ﾌﾟﾘｾｯﾄ送り", "－定速ﾌﾟﾘｾｯﾄ送り", "＋定速連続送り", "－定速連続送り",
              "原点復帰[OLS]", "原点復帰[OLS+Z]", "定速ｻｲｸﾙｽﾀｰﾄ", "即停止"]
LED_LABELS = ["+ELS ", "-ELS ", " DLS ", " OLS ", "  Z  ", "INPOS", "SVALM"]


def operation_axis(axis, dx, dy, lower_row, counter_button):
    """Controls of one axis block of an operation page, ids 1000*(axis+2)+k."""
    base = 1000 * (axis + 2)
    c = {}
    dys = dy - 1 if lower_row else dy      # x008 and x011 sit one unit higher
    for k in range(1, 9):
        c[k] = push(OP_BUTTONS[k - 1], move((105, 33 + 14 * (k - 1), 68, 13), dx, dys if k == 8 else dy))
    c[9] = push("初期化", move((2, 75, 35, 13), dx, dy))
    c[10] = push("SVON", move((12, 117, 25, 13), dx, dy))
    c[11] = push("SVRST", move((12, 131, 25, 13), dx, dys))
    c[12] = push("B接", move((82, 75, 18, 10), dx, dy))
    c[13] = push("B接", move((82, 94, 18, 10), dx, dy))
    c[14] = push("B接", move((82, 104, 18, 10), dx, dy))
    c[15] = push("B接", move((82, 124, 18, 10), dx, dy))
    c[16] = push("B接", move((82, 134, 18, 10), dx, dy))
    if counter_button:
        c[17] = Ctl("button", "指令", move((25, 48, 23, 13), dx, dy), exact=0x58010000)
    c[19] = text_static(move((68, 36, 32, 8), dx, dy))
    c[20] = label(None, move((50, 53, 48, 8), dx, dy), SS_RIGHT)
    c[21] = label(None, move((50, 63, 48, 8), dx, dy), SS_RIGHT)
    c[22] = lamp(move((2, 119, 7, 8), dx, dy))
    c[23] = lamp(move((2, 134, 7, 8), dx, dy))
    for k in range(24, 31):
        c[k] = lamp(move((44, 75 + 10 * (k - 24), 7, 8), dx, dy))
    c[100] = sunken_box(AXIS_NAMES[axis], move((4, 33, 20, 13), dx, dy))
    c[101] = label("ﾌﾟﾘｾｯﾄ量", move((28, 36, 35, 8), dx, dy), SS_CENTER)
    c[102] = label("位置", move((5, 53, 20, 8), dx, dy))
    c[103] = label("速度", move((5, 63, 20, 8), dx, dy))
    c[104] = group(move((40, 69, 63, 76), dx, dy))
    for k in range(105, 112):
        width = 20 if (k == 105 and axis == 3) else 25   # U's "+ELS " is narrower
        c[k] = label(LED_LABELS[k - 105], move((54, 75 + 10 * (k - 105), width, 10), dx, dy))
    return {base + k: v for k, v in c.items()}


SET_LABELS = ["プリセット量", "ＦＬ速度", "ＦＨ速度", "加減速時間", "サイクル数"]
SET_UNITS = ["pulse", "pps", "pps", "ms", "回"]


def settings_axis(axis, dx, dy):
    """Controls of one axis block of a settings page, ids 1000*(axis+2)+k."""
    base = 1000 * (axis + 2)
    c = {}
    for k in range(201, 206):
        c[k] = Ctl("edit", None, move((88, 38 + 15 * (k - 201), 50, 13), dx, dy),
                   WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL | WS_DISABLED)
    c[206] = push("定速/高速", move((33, 113, 50, 13), dx, dy))
    c[207] = push("個別パルス指令", move((5, 130, 53, 13), dx, dy))
    c[208] = push("正論理", move((63, 130, 50, 13), dx, dy))
    c[209] = push("デフォルト", move((118, 130, 50, 13), dx, dy))
    c[210] = sunken_box("現在　定速動作", move((88, 113, 80, 13), dx, dy))
    c[300] = sunken_box(AXIS_NAMES[axis], move((4, 38, 20, 13), dx, dy))
    for k in range(301, 306):
        c[k] = label(SET_LABELS[k - 301], move((33, 38 + 15 * (k - 301), 50, 13), dx, dy))
    for k in range(306, 311):
        c[k] = label(SET_UNITS[k - 306], move((143, 38 + 15 * (k - 306), 25, 13), dx, dy))
    c[311] = group(move((2, 124, 170, 21), dx, dy))
    return {base + k: v for k, v in c.items()}


def page_lines(tab):
    b = 1000 + 100 * (tab + 1)
    return {b + 1: line((0, 145, 349, 1)), b + 2: line((175, 31, 1, 256)),
            b + 3: line((0, 30, 349, 1))}


def operation_page(tab, axes, counter_button):
    b = 1000 + 100 * (tab + 1)
    c = page_lines(tab)
    c[b + 4] = Ctl("static", None, (84, 4, 95, 25), SS_SUNKEN)
    c[b + 5] = Ctl("static", None, (184, 4, 95, 25), SS_SUNKEN)
    offsets = [(0, 0, False), (175, 0, False), (0, 114, True), (175, 114, True)]
    for axis, (dx, dy, lower) in zip(axes, offsets):
        c.update(operation_axis(axis, dx, dy, lower, counter_button))
    return c


def settings_page(tab, axes, board_selection):
    b = 1000 + 100 * (tab + 1)
    c = page_lines(tab)
    c[b + 9] = text_static((84, 4, 95, 25))
    c[b + 10] = text_static((184, 4, 95, 25))
    c[b + 11] = Ctl("button", "設定チェック", (282, 15, 65, 14), 0, 0, (BS_TYPEMASK, BS_PUSHBUTTON))
    if board_selection:
        c[b + 4] = group((4, 0, 75, 30))
        c[b + 5] = label("デバイス番号", (9, 8, 44, 8))
        c[b + 6] = label("ボードID", (9, 20, 40, 8))
        for n, rect in ((7, (54, 6, 22, 86)), (8, (54, 17, 22, 86))):
            c[b + n] = Ctl("combobox", None, rect, WS_VSCROLL | WS_DISABLED, 0,
                           (CBS_TYPEMASK, CBS_DROPDOWNLIST))
    offsets = [(0, 0), (177, 0), (0, 111), (177, 111)]
    for axis, (dx, dy) in zip(axes, offsets):
        c.update(settings_axis(axis, dx, dy))
    return c


def expected_dialogs(axes):
    title = "[KVN] Tellam-%dX 動かしてみる" % axes
    main = {
        "style_need": WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE,
        "style_forbid": WS_CHILD,
        "rect": (None, None, 352, 272),
        "class": "MainDlg",
        "caption": title,
        "controls": {1001: Ctl("SysTabControl32", "Tab1", (0, 0, 352, 272), TCS_FIXEDWIDTH)},
    }
    page = {
        "style_need": WS_POPUP,
        "style_forbid": WS_CHILD | WS_VISIBLE | WS_CAPTION,
        "rect": (1, 12, 349, 259),
        "class": None,
        "caption": "",
    }
    if axes == 6:
        pages = [operation_page(0, [0, 1, 2, 3], False),
                 operation_page(1, [4, 5], False),
                 settings_page(2, [0, 1, 2, 3], True),
                 settings_page(3, [4, 5], False)]
    else:
        pages = [operation_page(0, [0, 1, 2, 3], True),
                 settings_page(1, [0, 1, 2, 3], True)]
    result = {IDD_DIALOG[0]: main}
    for i, controls in enumerate(pages):
        d = dict(page)
        d["controls"] = controls
        result[IDD_DIALOG[i + 1]] = d
    return result


COMMON_STRINGS = {
    1: "800x600(小さいフォント)以上の大きさにして下さい。",
    2: "ＭＳ ゴシック",
    3: "フォントセットエラー",
    4: "ダイアログボックス作成に失敗しました。",
    7: "２つ以上のボードIDが重複しているため、ボードIDでのオープンは使用できません。",
    8: "軸：",
    9: ")のデータを使用します。",
    10: "[プリセット量]",
    11: "[ＦＬ速度]",
    12: "[ＦＨ速度]",
    13: "[加減速時間]",
    14: "[サイクル回数]FH速度(あるいはFL速度)がプリセット量より大きいため、サイクル動作できません。",
    15: "未入力のため、前回(",
    16: "を超えるため、前回(",
    17: "未満のため、前回(",
    18: "指令",
    19: "個別パルス指令",
    20: "共通パルス指令",
    21: "正論理",
    22: "負論理",
    23: "現在 定速動作",
    24: "現在 高速動作",
    26: "＋定速ﾌﾟﾘｾｯﾄ送り",
    27: "－定速ﾌﾟﾘｾｯﾄ送り",
    28: "＋定速連続送り",
    29: "－定速連続送り",
    30: "定速ｻｲｸﾙｽﾀｰﾄ",
    31: "即停止",
    32: "＋高速ﾌﾟﾘｾｯﾄ送り",
    33: "－高速ﾌﾟﾘｾｯﾄ送り",
    34: "＋高速連続送り",
    35: "－高速連続送り",
    36: "高速ｻｲｸﾙｽﾀｰﾄ",
    37: "減速停止",
    38: "ｻｲｸﾙ",
    39: "回目",
    40: "サイクルストップ",
    41: "FL速度より小さいため、前回(",
    1001: "デバイス個数取得Error：",
    1002: "デバイス情報取得Error：",
    1003: "デバイスオープンError：",
    1004: "デバイスクローズError：",
    1005: "コマンドバッファ書込Error：",
    1006: "動作モードバッファ書込Error：",
    1007: "制御モードバッファ書込Error：",
    1008: "レジスタ書込Error：",
    1009: "レジスタ読込Error：",
    1010: "ステータス１読込Error：",
    1011: "ステータス２読込Error：",
    1012: "割込ステータス読込Error：",
    1013: "ELS極性ポート書込/読込Error：",
    1014: "CMP出力切替ポート書込/読込Error：",
}

SIX_AXIS_STRINGS = {
    25: "動作中のため、画面切替できません。",
    42: "V～B軸が存在しません。",
    44: "X～U軸動作",
    45: "V～W軸動作",
    46: "X～U軸設定",
    47: "V～W軸設定",
    48: "A接",
    49: "B接",
    50: "バス番号：",
    51: "デバイス番号：",
    52: "I/Oアドレス：",
    53: "IRQ番号：",
    54: "管理番号：",
    55: "ボードID：",
}

FOUR_AXIS_STRINGS = {
    25: "動作中のため、設定画面に変えられません。",
    42: "動作確認",
    43: "　設定　",
    44: "A接",
    45: "B接",
    46: "バス番号：",
    47: "デバイス番号：",
    48: "I/Oアドレス：",
    49: "IRQ番号：",
    50: "管理番号：",
    51: "ボードID：",
}


def expected_strings(axes):
    s = dict(COMMON_STRINGS)
    s.update(SIX_AXIS_STRINGS if axes == 6 else FOUR_AXIS_STRINGS)
    return s


def expected_version(axes):
    name = "tlmtest%d" % axes
    return {
        "CompanyName": "Korvane",
        "FileDescription": "Tellam-%dX test" % axes,
        "FileVersion": "2, 1, 0, 0",
        "ProductVersion": "2, 1, 0, 0",
        "InternalName": name,
        "OriginalFilename": name + ".exe",
        "ProductName": "Korvane " + name,
    }


# Bitmaps: id -> (name, RGB of every pixel)
EXPECTED_BITMAPS = {10002: ("LED off", (255, 255, 255)),
                    10003: ("LED green", (0, 255, 0)),
                    10004: ("LED red", (255, 0, 0))}


# ---------------------------------------------------------------------------
# PE resource reader
# ---------------------------------------------------------------------------
def read_sz(buf, off):
    end = off
    while buf[end:end + 2] != b"\0\0":
        end += 2
    return buf[off:end].decode("utf-16-le"), end + 2


def read_sz_or_ord(buf, off):
    w, = struct.unpack_from("<H", buf, off)
    if w == 0:
        return "", off + 2
    if w == 0xFFFF:
        return struct.unpack_from("<H", buf, off + 2)[0], off + 4
    return read_sz(buf, off)


def align4(off):
    return (off + 3) & ~3


def parse_dialog(buf):
    """DLGTEMPLATE or DLGTEMPLATEEX into a dict."""
    d = {}
    ver, sig = struct.unpack_from("<HH", buf, 0)
    ex = ver == 1 and sig == 0xFFFF
    if ex:
        _help, exstyle, style, count, x, y, cx, cy = struct.unpack_from("<IIIHhhhh", buf, 4)
        off = 26
    else:
        style, exstyle, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", buf, 0)
        off = 18
    d.update(style=style, exstyle=exstyle, rect=(x, y, cx, cy), extended=ex)
    d["menu"], off = read_sz_or_ord(buf, off)
    d["class"], off = read_sz_or_ord(buf, off)
    d["caption"], off = read_sz(buf, off)
    d["font"] = None
    if style & DS_SETFONT:
        size, = struct.unpack_from("<H", buf, off)
        off += 2
        if ex:
            off += 4        # weight, italic, charset
        face, off = read_sz(buf, off)
        d["font"] = (size, face)
    controls = []
    for _ in range(count):
        off = align4(off)
        if ex:
            _help, cexstyle, cstyle, cx_, cy_, cw, ch, cid = struct.unpack_from("<IIIhhhhI", buf, off)
            off += 24
        else:
            cstyle, cexstyle, cx_, cy_, cw, ch, cid = struct.unpack_from("<IIhhhhH", buf, off)
            off += 18
        cls, off = read_sz_or_ord(buf, off)
        text, off = read_sz_or_ord(buf, off)
        extra, = struct.unpack_from("<H", buf, off)
        off += 2 + extra
        if isinstance(cls, int):
            cls = ORDINAL_CLASSES.get(cls, "#%d" % cls)
        controls.append(dict(id=cid, style=cstyle, exstyle=cexstyle,
                             rect=(cx_, cy_, cw, ch), cls=cls, text=text))
    d["controls"] = controls
    return d


def parse_string_block(block_id, buf):
    out = {}
    off = 0
    for i in range(16):
        n, = struct.unpack_from("<H", buf, off)
        off += 2
        if n:
            out[(block_id - 1) * 16 + i] = buf[off:off + 2 * n].decode("utf-16-le")
        off += 2 * n
    return out


def parse_version(buf):
    """VS_VERSIONINFO: fixed info and the StringFileInfo tables."""
    def node(off):
        length, vlen, vtype = struct.unpack_from("<HHH", buf, off)
        key, p = read_sz(buf, off + 6)
        p = align4(p)
        return off, length, vlen, vtype, key, p

    _, length, vlen, _, key, p = node(0)
    fixed = buf[p:p + vlen]
    result = {"key": key, "fixed": None, "tables": {}, "translation": None}
    if len(fixed) >= 52:
        f = struct.unpack_from("<13I", fixed)
        result["fixed"] = dict(signature=f[0], file=(f[2] >> 16, f[2] & 0xFFFF, f[3] >> 16, f[3] & 0xFFFF),
                               product=(f[4] >> 16, f[4] & 0xFFFF, f[5] >> 16, f[5] & 0xFFFF),
                               fileos=f[8], filetype=f[9])
    child = align4(p + vlen)
    while child < length:
        c_off, c_len, c_vlen, _, c_key, c_p = node(child)
        if c_len == 0:
            break
        if c_key == "StringFileInfo":
            t = c_p
            while t < c_off + c_len:
                t_off, t_len, _, _, t_key, s = node(t)
                table = {}
                while s < t_off + t_len:
                    s_off, s_len, s_vlen, s_type, s_key, v = node(s)
                    if s_len == 0:
                        break
                    value = read_sz(buf, v)[0] if s_vlen else ""
                    table[s_key] = value
                    s = align4(s_off + s_len)
                result["tables"][t_key] = table
                t = align4(t_off + t_len)
        elif c_key == "VarFileInfo":
            v_off, v_len, v_vlen, _, v_key, v = node(c_p)
            if v_key == "Translation" and v_vlen >= 4:
                result["translation"] = struct.unpack_from("<HH", buf, v)
        child = align4(c_off + c_len)
    return result


def bitmap_colours(buf):
    """(width, height, bit count, palette size, set of RGB colours used)."""
    hsize, w, h, planes, bits, comp = struct.unpack_from("<IiiHHI", buf, 0)
    clr_used, = struct.unpack_from("<I", buf, 32)
    ncolours = clr_used or (1 << bits if bits <= 8 else 0)
    palette = []
    for i in range(ncolours):
        b, g, r, _ = struct.unpack_from("<BBBB", buf, hsize + 4 * i)
        palette.append((r, g, b))
    pixels = hsize + 4 * ncolours
    stride = ((abs(w) * bits + 31) // 32) * 4
    colours = set()
    if comp == 0 and bits in (1, 4, 8):
        per_byte = 8 // bits
        for y in range(abs(h)):
            row = buf[pixels + y * stride:pixels + (y + 1) * stride]
            for x in range(w):
                byte = row[x // per_byte]
                shift = 8 - bits * (x % per_byte + 1)
                colours.add(palette[(byte >> shift) & ((1 << bits) - 1)])
    else:
        colours.add("unsupported compression %d / %d bits" % (comp, bits))
    return w, h, bits, ncolours, colours


# ---------------------------------------------------------------------------
# Checks
# ---------------------------------------------------------------------------
class Report:
    def __init__(self):
        self.failures = []
        self.checks = 0

    def eq(self, what, expected, got):
        self.checks += 1
        if expected != got:
            self.failures.append("%s: expected %r, got %r" % (what, expected, got))

    def true(self, what, condition, expected, got):
        self.checks += 1
        if not condition:
            self.failures.append("%s: expected %s, got %s" % (what, expected, got))


def same_class(expected, got):
    # Window class names are case-insensitive; GNU windres stores class
    # names in upper case, Microsoft's rc keeps the case written.
    return isinstance(got, str) and expected.lower() == got.lower()


def check_dialog(rep, did, exp, got):
    name = "dialog %d" % did
    style = got["style"]
    rep.true(name + " style", style & exp["style_need"] == exp["style_need"],
             "bits 0x%08x set" % exp["style_need"], "0x%08x" % style)
    rep.true(name + " style", style & exp["style_forbid"] == 0,
             "bits 0x%08x clear" % exp["style_forbid"], "0x%08x" % style)
    x, y, w, h = exp["rect"]
    gx, gy, gw, gh = got["rect"]
    rep.eq(name + " size", (w, h), (gw, gh))
    if x is not None:
        rep.eq(name + " position", (x, y), (gx, gy))
    if exp["class"] is None:
        rep.eq(name + " class", "", got["class"])
    else:
        rep.true(name + " class", same_class(exp["class"], got["class"]),
                 repr(exp["class"]), repr(got["class"]))
    rep.eq(name + " caption", exp["caption"], got["caption"])
    rep.eq(name + " font", FONT, got["font"])
    rep.eq(name + " menu", "", got["menu"])

    ids = [c["id"] for c in got["controls"]]
    dups = sorted(set(i for i in ids if ids.count(i) > 1))
    rep.eq(name + " duplicate control ids", [], dups)
    rep.eq(name + " missing control ids", [], sorted(set(exp["controls"]) - set(ids)))
    rep.eq(name + " unexpected control ids", [], sorted(set(ids) - set(exp["controls"])))

    for c in got["controls"]:
        e = exp["controls"].get(c["id"])
        if e is None:
            continue
        what = "%s control %d" % (name, c["id"])
        rep.true(what + " class", same_class(e.cls, c["cls"]), repr(e.cls), repr(c["cls"]))
        if e.text is not None:
            rep.eq(what + " text", e.text, c["text"])
        rep.eq(what + " rectangle", e.rect, c["rect"])
        s = c["style"]
        if e.exact is not None:
            rep.eq(what + " style", "0x%08x" % e.exact, "0x%08x" % s)
            continue
        rep.true(what + " style", s & e.need == e.need, "bits 0x%08x set" % e.need, "0x%08x" % s)
        if e.forbid:
            rep.true(what + " style", s & e.forbid == 0, "bits 0x%08x clear" % e.forbid, "0x%08x" % s)
        if e.kind is not None:
            mask, value = e.kind
            if mask == "not-bitmap":
                rep.true(what + " style", s & SS_TYPEMASK != SS_BITMAP, "a text static", "0x%08x" % s)
                rep.true(what + " text", isinstance(c["text"], str), "a text", repr(c["text"]))
            else:
                rep.eq(what + " type bits", "0x%x" % value, "0x%x" % (s & mask))


def run(path, axes):
    rep = Report()
    with open(path, "rb") as f:
        pe = PE(f.read())

    dialogs, strings, bitmaps, versions = {}, {}, {}, []
    for rtype, rname, lang, data in pe.resources():
        rep.eq("language of resource type %r name %r" % (rtype, rname), LANG_JAPANESE_DEFAULT, lang)
        if rtype == RT_DIALOG:
            dialogs[rname] = parse_dialog(data)
        elif rtype == RT_STRING:
            for sid, text in parse_string_block(rname, data).items():
                rep.true("string %d" % sid, sid not in strings, "defined once", "defined twice")
                strings[sid] = text
        elif rtype == RT_BITMAP:
            bitmaps[rname] = data
        elif rtype == RT_VERSION:
            versions.append(data)

    # Dialog templates
    exp_dialogs = expected_dialogs(axes)
    rep.eq("dialog templates", sorted(exp_dialogs), sorted(k for k in dialogs if isinstance(k, int)))
    for did, exp in exp_dialogs.items():
        if did in dialogs:
            check_dialog(rep, did, exp, dialogs[did])

    # String table
    exp_strings = expected_strings(axes)
    rep.eq("missing string ids", [], sorted(set(exp_strings) - set(strings)))
    rep.eq("unexpected string ids", [], sorted(set(strings) - set(exp_strings)))
    for sid, text in sorted(exp_strings.items()):
        if sid in strings:
            rep.eq("string %d" % sid, text, strings[sid])
    for sid, text in sorted(strings.items()):
        try:
            text.encode("cp932")
            ok = True
        except UnicodeEncodeError as err:
            ok = False
            bad = text[err.start:err.end]
        rep.true("string %d in code page 932" % sid, ok, "representable",
                 "not representable" if ok else "U+%04X not representable" % ord(bad[0]))
    for did, d in dialogs.items():
        for c in d["controls"]:
            if isinstance(c["text"], str):
                try:
                    c["text"].encode("cp932")
                except UnicodeEncodeError:
                    rep.true("dialog %r control %d text in code page 932" % (did, c["id"]), False,
                             "representable", repr(c["text"]))

    # Bitmaps
    rep.eq("bitmap ids", sorted(EXPECTED_BITMAPS), sorted(bitmaps))
    rep.true("bitmap 10001", 10001 not in bitmaps, "absent (the lamps start empty)", "present")
    for bid, (name, rgb) in sorted(EXPECTED_BITMAPS.items()):
        if bid not in bitmaps:
            continue
        w, h, bits, ncolours, colours = bitmap_colours(bitmaps[bid])
        rep.eq("bitmap %d (%s) size" % (bid, name), (15, 15), (w, h))
        rep.eq("bitmap %d (%s) colours" % (bid, name), (4, 16), (bits, ncolours))
        rep.eq("bitmap %d (%s) pixel colours" % (bid, name), {rgb}, colours)

    # Version
    rep.eq("version resources", 1, len(versions))
    if versions:
        v = parse_version(versions[0])
        rep.eq("version key", "VS_VERSION_INFO", v["key"])
        fixed = v["fixed"] or {}
        rep.eq("fixed file info signature", 0xFEEF04BD, fixed.get("signature"))
        rep.eq("file version", (2, 1, 0, 0), fixed.get("file"))
        rep.eq("product version", (2, 1, 0, 0), fixed.get("product"))
        rep.eq("file type", 1, fixed.get("filetype"))      # VFT_APP
        lang, codepage = v["translation"] or (None, None)
        rep.eq("version translation language", 0x0411, lang)
        key = "%04x%04x" % (lang or 0, codepage or 0)
        rep.eq("version string tables", [key], sorted(t.lower() for t in v["tables"]))
        table = {}
        for k, t in v["tables"].items():
            if k.lower() == key:
                table = t
        for name, value in sorted(expected_version(axes).items()):
            rep.eq("version %s" % name, value, table.get(name))

    for line in rep.failures:
        print("FAIL " + line)
    print("%s: %d checks, %d failed" % (path, rep.checks, len(rep.failures)))
    return 1 if rep.failures else 0


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--axes", type=int, choices=(6, 4), default=6)
    ap.add_argument("program")
    args = ap.parse_args()
    sys.exit(run(args.program, args.axes))


if __name__ == "__main__":
    main()
