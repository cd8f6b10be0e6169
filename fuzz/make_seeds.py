#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/, in the input layout that each
target's source describes (fuzz/fuzz_input.h: little-endian numbers, blobs with a 16-bit length).
Realistic values first, then the edges: empty, unterminated, odd lengths, other types.

Usage: fuzz/make_seeds.py   (replaces the corpus files it writes; others stay)
"""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD = 1, 2, 3, 4, 7, 11
NO_FAILURE = bytes([0xFF, 0, 0])


def byte(value):
    return bytes([value])


def dword(value):
    return struct.pack("<I", value)


def word(value):
    return struct.pack("<H", value)


def blob(data):
    return word(len(data)) + data


def wide(text, terminated=True):
    return text.encode("utf-16-le") + (b"\0\0" if terminated else b"")


def value(present, kind, data):
    return byte(1 if present else 0) + dword(kind) + blob(data)


def absent():
    return value(False, 0, b"")


def write(target, name, data):
    directory = os.path.join(ROOT, target)
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, name), "wb") as seed:
        seed.write(data)


def registry_key():
    # type, data, name choice (0 fixed, 1 default, 2 next blob), mode, failure, further buffer size
    def seed(kind, data, name=b"\0", mode=0, failure=NO_FAILURE, extra=0):
        return dword(kind) + blob(data) + name + byte(mode) + failure + word(extra)

    write("registry_key", "sz_terminated", seed(REG_SZ, wide("USB001")))
    write("registry_key", "sz_unterminated", seed(REG_SZ, wide("USB001", False)))
    write("registry_key", "sz_empty", seed(REG_SZ, b""))
    write("registry_key", "sz_only_nul", seed(REG_SZ, b"\0\0", mode=2))
    write("registry_key", "sz_odd_length", seed(REG_SZ, wide("USB001") + b"X"))
    write("registry_key", "expand_sz_default_value", seed(REG_EXPAND_SZ, wide("%TEMP%\\x"), name=b"\1"))
    write("registry_key", "dword", seed(REG_DWORD, dword(1)))
    write("registry_key", "dword_short", seed(REG_DWORD, b"\1\0", mode=1))
    write("registry_key", "binary_four_bytes", seed(REG_BINARY, b"\1\2\3\4", mode=3))
    write("registry_key", "qword", seed(REG_QWORD, struct.pack("<Q", 1)))
    write("registry_key", "multi_sz_named", seed(REG_MULTI_SZ, wide("a\0b\0"), name=b"\2" + blob(wide("BulkInstanceID", False))))
    # The value grows between the size probe and the read.
    write("registry_key", "sz_grows_after_probe", seed(REG_SZ, wide("USB001"), failure=bytes([1, 1, 2]), extra=3))


def usb_companion():
    printer = wide("USBPRINT\\VRAALPHA_100\\7&2F3A1B&0&USB001", False)
    companion = wide("USB\\VID_1A2B&PID_0C01\\5&3C4D&0&2", False)

    # printer id, element null, Wine's last error, PortName, CurrentDeviceType, two BulkInstanceIDs,
    # companions (count, then id, class, absent), failure
    def seed(port, selector=absent(), instances=(absent(), absent()), companions=(), no_element=0, wine=0,
             failure=NO_FAILURE, printer_id=printer):
        data = blob(printer_id) + byte(no_element) + byte(wine) + port + selector + instances[0] + instances[1]
        data += byte(len(companions))
        for identifier, interface_class, missing in companions:
            data += blob(identifier) + byte(interface_class) + byte(missing)
        return data + failure

    usb = value(True, REG_SZ, wide("USB001"))
    write("usb_companion", "usb_port_into_default_key", seed(usb))
    write("usb_companion", "default_companion_interface",
          seed(usb, instances=(value(True, REG_SZ, wide("USB\\VID_1A2B&PID_0C01\\5&3C4D&0&2")), absent()),
               companions=[(companion, 0, 0)]))
    write("usb_companion", "alternate_companion_interface",
          seed(value(True, REG_EXPAND_SZ, wide("USB004")), selector=value(True, REG_DWORD, dword(1)),
               instances=(absent(), value(True, REG_SZ, wide("USB\\VID_1A2B&PID_0C01\\5&3C4D&0&2"))),
               companions=[(companion, 1, 0), (wide("USB\\VID_1A2B&PID_0C02\\6", False), 0, 1)]))
    write("usb_companion", "port_unterminated", seed(value(True, REG_SZ, wide("USB001", False))))
    write("usb_companion", "port_not_usb", seed(value(True, REG_SZ, wide("LPT1:")),
                                                 selector=value(True, REG_DWORD, dword(1))))
    write("usb_companion", "instance_as_dword",
          seed(usb, instances=(value(True, REG_DWORD, dword(7)), absent()), companions=[(companion, 0, 0)]))
    write("usb_companion", "instance_empty_short_selector",
          seed(usb, selector=value(True, REG_BINARY, b"\0\0"), instances=(value(True, REG_SZ, b"\0\0"), absent()),
               companions=[(companion, 0, 0)], wine=1))
    write("usb_companion", "instance_other_case",
          seed(usb, instances=(value(True, REG_SZ, wide("usb\\vid_1a2b&pid_0c01\\5&3c4d&0&2")), absent()),
               companions=[(companion, 0, 0)]))
    write("usb_companion", "without_element", seed(usb, no_element=1))


def printer_naming():
    # description, InstallContext, stored name (kind, type, blob), queue, driver, port, data value name
    # (kind [, blob]), data type and blob, other printers, failure
    def seed(data, data_type=REG_SZ, driver="Example PCL 6 Driver", port="USB001", queue="VRA Alpha Queue",
             others=(), stored=(0, 0, b""), name_kind=b"\0", description=value(True, REG_SZ, wide("Alpha 100"))):
        result = description + value(True, REG_DWORD, dword(2))
        result += byte(stored[0]) + dword(stored[1]) + blob(stored[2])
        result += blob(wide(queue, False)) + blob(wide(driver, False)) + blob(wide(port, False))
        result += name_kind + dword(data_type) + blob(data)
        result += byte(len(others))
        for other in others:
            result += blob(wide(other, False))
        return result + NO_FAILURE

    write("printer_naming", "composed_name", seed(wide("Alpha 100")))
    write("printer_naming", "copy_two", seed(wide("Alpha 100"), others=["Alpha 100 VRA PCL 6",
                                                                       "Alpha 100 VRA PCL 6 (Copy 1)"]))
    write("printer_naming", "data_fills_buffer_unterminated", seed(wide("A" * 260, False), driver="Example PS"))
    write("printer_naming", "data_leading_space", seed(wide(" Alpha")))
    write("printer_naming", "data_empty", seed(b""))
    write("printer_naming", "data_dword_xps", seed(dword(0x41), REG_DWORD, driver="Example Universal XPS"))
    write("printer_naming", "empty_value_name_and_port", seed(wide("Alpha 100"), port="", name_kind=b"\1"))
    write("printer_naming", "stored_name_unterminated_other_case",
          seed(wide("Alpha 100"), stored=(1, REG_EXPAND_SZ, wide("vra alpha queue", False))))
    write("printer_naming", "data_too_long", seed(wide("B" * 260) + b"\0", driver="PCL 5 PCL 6"))


def tracker_switches():
    # key present, TrackMemoryAllocation, TrackMemoryLogLocation, TrackMemoryFailSize,
    # AppendTRVSymbolServerPath, failure
    def seed(allocation, location=absent(), fail_size=absent(), symbols=absent(), key=1, failure=NO_FAILURE):
        return byte(key) + allocation + location + fail_size + symbols + failure

    write("tracker_switches", "mode_one", seed(value(True, REG_DWORD, dword(1))))
    write("tracker_switches", "mode_two_all_switches",
          seed(value(True, REG_DWORD, dword(2)), value(True, REG_SZ, wide("Z:\\logs")),
               value(True, REG_DWORD, dword(1000)), value(True, REG_DWORD, dword(1))))
    write("tracker_switches", "mode_three_narrow_location",
          seed(value(True, REG_DWORD, dword(3)), value(True, REG_BINARY, b"C:\\Logs")))
    write("tracker_switches", "mode_four_missing_parent",
          seed(value(True, REG_DWORD, dword(4)), value(True, REG_SZ, wide("C:\\No\\Such\\Logs"))))
    write("tracker_switches", "allocation_qword", seed(value(True, REG_QWORD, struct.pack("<Q", 1)),
                                                       symbols=value(True, REG_SZ, wide("1"))))
    write("tracker_switches", "allocation_zero", seed(value(True, REG_DWORD, dword(0)),
                                                      value(True, REG_SZ, wide("C:\\Logs")),
                                                      value(True, REG_DWORD, dword(1000))))
    write("tracker_switches", "short_values_long_location",
          seed(value(True, REG_BINARY, b"\7\0"), value(True, REG_SZ, wide("C" * 130, False)),
               value(True, REG_BINARY, b"\x10")))
    write("tracker_switches", "empty_location", seed(value(True, REG_DWORD, dword(1)), value(True, REG_SZ, b"\0\0")))
    write("tracker_switches", "no_key", seed(value(True, REG_DWORD, dword(1)), key=0))


def mlk_decoder():
    def record(identifier, size, kind=0, release=0, underrun=0, overrun=0, magic=0xAA):
        data = bytearray(504)
        data[0] = magic
        struct.pack_into("<QQIxxxxQi", data, 8, 0x1F2A3B4C5D0, 0, identifier, size, kind)
        struct.pack_into("<Q", data, 48, 0x7FF612340000 + identifier)
        data[64] = release
        struct.pack_into("<QQi", data, 72, 0x1F2A3B4C5D0 + 504, 0x1F2A3B4C5D0, 1)
        data[92] = underrun
        data[93] = overrun
        struct.pack_into("<QQQ", data, 96, 16, 0x1F2A3B4C5D0 + 504 + size, 384)
        for at in range(120, 504):
            data[at] = 0xFD
        return bytes(data)

    write("mlk_decoder", "empty", b"")
    write("mlk_decoder", "one_leak", record(7, 24))
    write("mlk_decoder", "two_with_damage", record(1, 100, kind=1, overrun=1) + record(2, 0x80000000, release=1,
                                                                                       underrun=1, magic=0))
    write("mlk_decoder", "cut_short", record(3, 8)[:503])
    write("mlk_decoder", "one_byte_over", record(4, 8) + b"\0")


if __name__ == "__main__":
    registry_key()
    usb_companion()
    printer_naming()
    tracker_switches()
    mlk_decoder()
