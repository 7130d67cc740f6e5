#!/usr/bin/env python3
"""Writes limits.csv: a configuration at the driver's limits (32 channels, 255 devices,
10,000 poll records), every register kind and data type, all on 127.0.0.1."""
import os

CHANNELS, DEVICES, RECORDS = 32, 255, 10000
HEADERS = [
    "!CHANNEL,DISPLAY ALARMS,,,,,,REPLY TIMEOUT,DELAY,RETRIES,,,,,,,,,,IP Address,IP Port,IP Protocol",
    "!DEVICE NAME,CHANNEL,DESCRIPTION,CPU,PROTOCOL,,,,,PRIMARY PLC ADDRESS,Network,Module",
    "!IOREC,DEVICE NAME,DATA TYPE,POLL TIME,ACCESS TIME,EXCEPTION,DEAD BAND,START ADDRESS,LENGTH",
]


def record(i):
    """The i-th poll record of a device: data type, poll time, exception, address, length."""
    kind = i % 8
    if kind == 0:
        return "Unsigned", "1.0", "Disabled", f"D:{i * 100}", 20
    if kind == 1:
        return "Float", "0.5", "Analog", f"D:{i * 100}", 8
    if kind == 2:
        return "Digital", "1.0", "Disabled", f"M:{i * 32}", 32
    if kind == 3:
        return "Digital", "2.0", "Disabled", f"X:{i * 0x40:X}", 32
    if kind == 4:
        return "Long Signed", "1.0", "Disabled", f"W:{i * 0x20:X}", 16
    if kind == 5:
        return "Signed", "5.0", "Analog", f"R:{i * 50}", 10
    if kind == 6:
        return "ASCII", "10.0", "ASCII", f"D:{i * 100}", 4
    return "Digital", "0.5", "Digital", f"Y:{i * 0x40:X}", 16


def main():
    lines = ["[ HBTHBT  , configuration at the limits: 32 channels, 255 devices, 10000 poll records ]"]
    lines.append(HEADERS[0])
    for c in range(1, CHANNELS + 1):
        protocol = "TCP" if c % 2 == 0 else "UDP"
        lines.append(f"{c},Yes,,,,,,1.0,10.0,3,,,,,,,,,,127.0.0.1,{5000 + c - 1},{protocol}")
    lines.append("")
    lines.append(HEADERS[1])
    devices = []
    for d in range(DEVICES):
        channel = d // 8 + 1
        local = d % 8
        name = f"P{channel:02d}D{local}"
        cpu = "Q Series" if channel % 2 == 1 else ("AnU" if channel % 4 == 0 else "AnA")
        coding = "ASCII" if channel % 3 == 0 else "BINARY"
        pc, network = (255, 0) if local == 0 else (local, 1)
        lines.append(f"{name},{channel},Unit {local} of line {channel},{cpu},{coding},,,,,{pc},{network},0")
        devices.append(name)
    lines.append("")
    lines.append(HEADERS[2])
    per_device, extra = divmod(RECORDS, DEVICES)
    number = 0
    for d, name in enumerate(devices):
        for i in range(per_device + (1 if d < extra else 0)):
            data_type, poll, exception, start, length = record(i)
            access = "Disabled" if exception != "Disabled" else "300.0"
            number += 1
            lines.append(f"{number},{name},{data_type},{poll},{access},{exception},0.0,{start},{length}")
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "limits.csv")
    with open(out, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")


if __name__ == "__main__":
    main()
