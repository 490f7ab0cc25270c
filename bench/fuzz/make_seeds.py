#!/usr/bin/env python3
"""Writes the fuzz driver's seed corpus: small, valid examples of each kind
of outside data, and a few that sit on an edge (texts without terminators,
lengths at the end of the data, odd layouts). Run from anywhere; the seeds
go to the seeds folder beside this script. The files are kept in the
repository, so this only needs running when a seed is added or changed."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
SEEDS = os.path.join(HERE, "seeds")


def write(reader, name, data):
    folder = os.path.join(SEEDS, reader)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name + ".bin"), "wb") as f:
        f.write(data)


def pad(data, alignment):
    return data + b"\0" * (-len(data) % alignment)


def wide(text, terminated=True):
    return text.encode("utf-16-le") + (b"\0\0" if terminated else b"")


# ---- Performance data (the title indexes the driver's title database gives) ----

THREAD, PROCESS = 232, 230
ID_PROCESS, ID_THREAD, PRIORITY_CURRENT, PRIORITY_BASE = 784, 804, 694, 682
PROCESSOR_TIME = 6
OWN_PROCESS = 0x1234
PERF_NO_INSTANCES = -1


def counter_definition(title, offset, size=4):
    return struct.pack("<10I", 40, title, 0, title + 1, 0, 0, 100, 0x10000, size, offset)


def counter_block(values):
    """A 64-bit counter first, then one 32-bit value per (title, value)."""
    data = struct.pack("<Q", 123456789)
    data += b"".join(struct.pack("<I", value) for _, value in values)
    data += b"\0" * (-(4 + len(data)) % 8)
    return struct.pack("<I", 4 + len(data)) + data


def counters_of(values):
    definitions = [counter_definition(PROCESSOR_TIME, 4, 8)]
    definitions += [counter_definition(title, 12 + 4 * i) for i, (title, _) in enumerate(values)]
    return b"".join(definitions)


def instance(name, values, unique=-1):
    name_data = pad(wide(name), 8)
    header = struct.pack("<IIIiII", 24 + len(name_data), 0, 0, unique, 24, len(wide(name)))
    return header + name_data + counter_block(values)


def perf_object(title, values_per_instance, instances=True):
    values = values_per_instance[0]
    definitions = counters_of(values)
    if instances:
        body = b"".join(instance("t%d" % i, v) for i, v in enumerate(values_per_instance))
        count = len(values_per_instance)
    else:
        body = counter_block(values)
        count = PERF_NO_INSTANCES
    header_length = 64
    definition_length = header_length + len(definitions)
    total = definition_length + len(body)
    header = struct.pack("<IIIIIIIIIiiIQQ", total, definition_length, header_length, title, 0,
                         title + 1, 0, 100, len(values) + 1, 0, count, 0, 0, 10000000)
    return header + definitions + body


def perf_block(objects, system="TVHOST"):
    name = pad(wide(system), 8)
    header_length = 88 + len(name)
    data = b"".join(objects)
    header = wide("PERF", False) + struct.pack("<IIIIIIi", 1, 1, 1, header_length + len(data),
                                               header_length, len(objects), 238)
    header += b"\0" * 16 + b"\0" * 4 + struct.pack("<QQQII", 1, 2, 3, len(wide(system)), 88)
    return header + name + data


def thread_values(process, thread, current, base):
    return [(ID_PROCESS, process), (ID_THREAD, thread), (PRIORITY_CURRENT, current),
            (PRIORITY_BASE, base)]


def perf_seeds():
    threads = [thread_values(OWN_PROCESS, 0x100, 8, 8), thread_values(OWN_PROCESS, 0x104, 15, 8),
               thread_values(0x999, 0x108, 9, 8), thread_values(OWN_PROCESS, 0x10C, 6, 8)]
    write("perf", "threads", perf_block([perf_object(THREAD, threads)]))
    process = [[(ID_PROCESS, OWN_PROCESS), (PRIORITY_BASE, 8)]]
    write("perf", "process_and_threads",
          perf_block([perf_object(PROCESS, process), perf_object(THREAD, threads[:2])]))
    write("perf", "no_instances",
          perf_block([perf_object(THREAD, [thread_values(OWN_PROCESS, 0x200, 1, 4)], False)]))
    write("perf", "thread_id_zero",
          perf_block([perf_object(THREAD, [thread_values(OWN_PROCESS, 0, 8, 8)] + threads[:1])]))
    write("perf", "no_objects", perf_block([]))
    # The last counter block ends exactly at the end of the data.
    write("perf", "ends_at_counter", perf_block([perf_object(THREAD, threads[:1])]))


def title_seeds():
    pairs = [(1, "1847"), (2, "System"), (4, "Memory"), (6, "% Processor Time"), (230, "Process"),
             (232, "Thread"), (682, "Priority Base"), (694, "Priority Current"),
             (784, "ID Process"), (804, "ID Thread")]

    def titles(items):
        return b"".join(b"%d\0%s\0" % (index, name.encode()) for index, name in items)

    write("perftitles", "english", titles(pairs) + b"\0")
    write("perftitles", "no_end_marker", titles(pairs))
    # The last name runs to the end of the data, without its zero.
    write("perftitles", "cut_name", titles(pairs)[:-3])
    write("perftitles", "count_only", b"1\0" b"1847\0")
    write("perftitles", "shuffled", titles(list(reversed(pairs)) + [(9999, "Thread")]))


# ---- 16-bit executables ----

def ne_file(names, table_offset=0x40, tail=b"\0"):
    mz = bytearray(64)
    mz[0:2] = b"MZ"
    struct.pack_into("<I", mz, 0x3C, 0x40)
    ne = bytearray(64)
    ne[0:2] = b"NE"
    struct.pack_into("<H", ne, 0x26, table_offset)
    table = b"".join(bytes([len(n)]) + n + struct.pack("<H", i) for i, n in enumerate(names))
    return bytes(mz) + bytes(ne) + b"\0" * (table_offset - 64) + table + tail


def ne_seeds():
    write("ne", "module", ne_file([b"NOTEPAD", b"Notepad for Windows"]))
    write("ne", "long_name", ne_file([b"A" * 40]))
    write("ne", "name_at_end", ne_file([b"CLOCK"])[:-3])
    write("ne", "empty_name", ne_file([b""]))
    write("ne", "far_table", ne_file([b"FARTABLE"], table_offset=0x400))
    write("ne", "double_byte", ne_file(["记事本程序".encode("gbk")]))
    pe = bytearray(ne_file([b"WIN32APP"]))
    pe[0x40:0x42] = b"PE"
    write("ne", "portable", bytes(pe))


# ---- Version resources ----

def node32(key, value=b"", value_length=None, text=False, children=b"", terminated_key=True):
    data = struct.pack("<HHH", 0, 0, 1 if text else 0) + wide(key, terminated_key)
    data = pad(data, 4) + value
    if children:
        data = pad(data, 4) + children
    length = value_length if value_length is not None else (len(value) // 2 if text else len(value))
    return struct.pack("<HH", len(data), length) + data[4:]


def string32(key, text, terminated=True):
    value = wide(text, terminated)
    return pad(node32(key, value, len(value) // 2, True), 4)


def version32(strings, translations=((0x0804, 0x04B0),), language="080404b0", fixed=True):
    fixed_info = struct.pack("<13I", 0xFEEF04BD, 0x10000, 0x10000, 0, 0x10000, 0, 0x3F, 0, 4, 1,
                             0, 0, 0) if fixed else b""
    table = node32(language, text=True, children=b"".join(string32(k, v, t) for k, v, t in strings))
    string_info = node32("StringFileInfo", text=True, children=pad(table, 4))
    translation = b"".join(struct.pack("<HH", *pair) for pair in translations)
    var = node32("Translation", translation)
    var_info = node32("VarFileInfo", text=True, children=pad(var, 4))
    return node32("VS_VERSION_INFO", fixed_info,
                  children=pad(string_info, 4) + pad(var_info, 4))


def node16(key, value=b"", children=b""):
    data = struct.pack("<HH", 0, len(value)) + key.encode("gbk") + b"\0"
    data = pad(data, 4) + value
    if children:
        data = pad(data, 4) + children
    return struct.pack("<H", len(data)) + data[2:]


def version16(strings):
    table = node16("080403A8", children=b"".join(
        pad(node16(k, v.encode("gbk") + b"\0"), 4) for k, v in strings))
    string_info = node16("StringFileInfo", children=pad(table, 4))
    var_info = node16("VarFileInfo", children=pad(node16("Translation",
                                                          struct.pack("<HH", 0x0804, 936)), 4))
    return node16("VS_VERSION_INFO", b"\0" * 52, pad(string_info, 4) + pad(var_info, 4))


FULL = [("CompanyName", "Marvik", True), ("FileDescription", "进程查看", True),
        ("FileVersion", "1.0.0.0", True), ("InternalName", "tolvane", True),
        ("LegalCopyRight", "(C) Marvik", True), ("OriginalFilename", "tolvane.exe", True),
        ("ProductName", "Tolvane", True), ("ProductVersion", "1.0", True)]


def version_seeds():
    write("version", "full", version32(FULL))
    # Values that end without a zero: the next node, or the block's end,
    # follows right after their last character.
    write("version", "unterminated", version32(
        [("FileDescription", "Desc", False), ("ProductVersion", "1.2", False),
         ("LegalCopyRight", "ab", False)]))
    write("version", "product_only", version32([("ProductName", "Only product", True)]))
    write("version", "two_translations", version32(
        FULL[:3], translations=((0x0409, 0x04B0), (0x0804, 0x04B0)), language="040904b0"))
    write("version", "long_values", version32(
        [("FileDescription", "D" * 300, True), ("ProductName", "P" * 259, True),
         ("OriginalFilename", "O" * 40, True), ("LegalCopyRight", "C" * 200, True)]))
    write("version", "empty_values", version32(
        [("FileDescription", "", True), ("ProductName", "", False),
         ("OriginalFilename", "orig.exe", True)]))
    write("version", "no_fixed_info", version32(FULL[:2], fixed=False))
    write("version", "ansi_block", version16([(k, v) for k, v, _ in FULL]))


# ---- Settings: records of (name, type, 16-bit length, data) ----

NAMES = ["WindowSize", "UseSysTray", "StartMinimized", "Colorize", "AllowMultiplyInstances",
         "HexProcessId", "RefreshTimes", "ColomnSize", "File_0", "File_1", "File_2", "File_3",
         "File_4", "ResourceColumns"]
REG_SZ, REG_DWORD, REG_BINARY, REG_EXPAND_SZ, REG_NONE, REG_MULTI_SZ = range(6)


def record(name, data, kind=REG_SZ):
    return bytes([NAMES.index(name), kind]) + struct.pack("<H", len(data)) + data


def settings(values, terminated=True, kind=REG_SZ):
    end = b"\0" if terminated else b""
    return b"".join(record(n, v + end, kind) for n, v in values)


SAVED = [("WindowSize", b" 640 480"), ("ColomnSize", b" 120 60 80 300"), ("UseSysTray", b"1"),
         ("StartMinimized", b"0"), ("Colorize", b"1"), ("AllowMultiplyInstances", b"0"),
         ("HexProcessId", b"1"), ("RefreshTimes", b" 0 3 4 5 2"),
         ("File_0", b"NOTEPAD=C:\\p\\x.dsw"), ("File_1", b"TOOL=C:\\work\\tool.dsw")]


def settings_seeds():
    write("settings", "saved", settings(SAVED))
    write("settings", "unterminated", settings(SAVED, terminated=False))
    write("settings", "long_values", settings(
        [("WindowSize", b" " + b"9" * 600), ("RefreshTimes", b" 1" * 300),
         ("ColomnSize", b" 4096" * 120), ("File_0", b"X=" + b"P" * 400),
         ("File_4", b"Y=" + b"Q" * 258)]))
    write("settings", "numbers", b"".join([
        record("UseSysTray", struct.pack("<I", 0), REG_DWORD),
        record("Colorize", struct.pack("<I", 7), REG_DWORD),
        record("HexProcessId", b"\1", REG_DWORD),
        record("WindowSize", b" -5 99999999999", REG_BINARY),
        record("RefreshTimes", b" 5", REG_EXPAND_SZ),
        record("ColomnSize", b" 0 0 0 0\0\0", REG_MULTI_SZ)]))
    write("settings", "odd_texts", settings(
        [("WindowSize", b"640 480"), ("RefreshTimes", b" 0 3 4 5"), ("ColomnSize", b" 0 0 0 0"),
         ("UseSysTray", b""), ("StartMinimized", b"yes"), ("Colorize", b"0x")]))
    # The resource columns on, with the widths of the columns shown then and
    # of those shown without them; and words that do not switch them on.
    write("settings", "resource_columns", settings(
        [("ResourceColumns", b"1"), ("ColomnSize", b" 120 60 80 70 65 85 85 45 300")]))
    write("settings", "resource_words", settings(
        [("ResourceColumns", b"yes"), ("ColomnSize", b" 120 60 80 70 65 85 85 45 300 9 9")]))
    # A recent project whose 260th byte starts a double-byte character.
    write("settings", "double_byte", settings(
        [("File_0", b"APP=" + "路径".encode("gbk") * 64), ("File_1", b"B=" + b"\xb7" * 300)]))


# ---- The parameter block of another process ----

def unicode_string(text_bytes, offset):
    return struct.pack("<HHI", len(text_bytes), len(text_bytes) + 2, offset)


def parameter_image(normalized=True, command="app.exe -x \"C:\\work dir\\file.txt\"",
                    environment=("=C:=C:\\work", "PATH=C:\\windows", "TEMP=C:\\temp"),
                    environment_end=b"\0\0", directory="C:\\work\\", odd=False):
    """PEB at 0 (parameters' offset at 0x10), parameters at 0x20, then texts."""
    parameters_at = 0x20
    texts_at = parameters_at + 0x4C + 4
    pieces = []
    position = texts_at

    def place(data):
        nonlocal position
        at = position
        pieces.append(pad(data, 4))
        position += len(pad(data, 4))
        return at

    directory_data = wide(directory, False)
    command_data = wide(command, False)
    image_data = wide("C:\\work\\app.exe", False)
    directory_at = place(directory_data + b"\0\0")
    dll_at = place(wide("C:\\windows;C:\\windows\\system32"))
    image_at = place(image_data + b"\0\0")
    command_at = place(command_data + b"\0\0")
    env = b"".join(wide(entry, False) + b"\0\0" for entry in environment)[:-2] + environment_end
    environment_at = place(env) if environment_end else position
    if not environment_end:
        pieces.append(env)
    base = 0 if normalized else parameters_at
    length = len(command_data) + (1 if odd else 0)
    parameters = struct.pack("<IIII", 0x1000, 0x1000, 1 if normalized else 0, 0)
    parameters += struct.pack("<II", 0, 0) + struct.pack("<III", 0, 0, 0)
    parameters += unicode_string(directory_data, directory_at - base) + struct.pack("<I", 0)
    parameters += unicode_string(b"", dll_at - base)
    parameters += unicode_string(image_data, image_at - base)
    parameters += struct.pack("<HHI", length, length, command_at - base)
    parameters += struct.pack("<I", environment_at)
    assert len(parameters) == 0x4C
    peb = bytearray(0x20)
    struct.pack_into("<I", peb, 0x10, parameters_at)
    return bytes(peb) + parameters + b"\0" * 4 + b"".join(pieces)


def remote_seeds():
    write("remote", "normalized", parameter_image())
    write("remote", "offsets", parameter_image(normalized=False))
    # The environment's last entry runs to the end of the input, unterminated.
    write("remote", "environment_to_end", parameter_image(environment_end=b""))
    write("remote", "long_command", parameter_image(command="x" * 3000))
    write("remote", "odd_length", parameter_image(odd=True, directory=""))
    write("remote", "double_byte", parameter_image(
        command="程序 参数", environment=("名字=值", "=D:=D:\\")))


# ---- Debugger templates ----

def template_seeds():
    for name, text in [("wine", b"winedbg --auto %ld %ld"), ("cut", b"dbg -p %ld -e %ld -g"),
                       ("string", b"dbg -p %s"), ("quoted", b"\"C:\\Program Files\\dbg.exe\" -p %ld"),
                       ("lone", b"dbg %"), ("two", b"dbg %ld%s"), ("hex", b"dbg -p 0x%08X"),
                       ("none", b"dbg.exe"), ("double_byte", "调试器 -p %ld".encode("gbk"))]:
        write("debugger", name, text)


if __name__ == "__main__":
    perf_seeds()
    title_seeds()
    ne_seeds()
    version_seeds()
    settings_seeds()
    remote_seeds()
    template_seeds()
