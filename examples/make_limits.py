#!/usr/bin/env python3
"""Writes limits.csv: a configuration at the driver's limits (32 channels, 255 devices,
10,000 poll records), every register kind, data type and CPU type, all on 127.0.0.1, and
limits.mcsim: the simulated PLCs that answer every one of its poll records.

Each channel reaches one PLC (its own CPU, PC 255, and stations 1..7 on network 1). Every
address lies inside what a real CPU of the channel's type holds, and the last record of
each kind ends on the last device of its range, so that the configuration polls cleanly
against real PLCs and against mcsim with the same CPU types."""
import os

CHANNELS, DEVICES, RECORDS = 32, 255, 10000
HEADERS = [
    "!CHANNEL,DISPLAY ALARMS,,,,,,REPLY TIMEOUT,DELAY,RETRIES,,,,,,,,,,IP Address,IP Port,IP Protocol",
    "!DEVICE NAME,CHANNEL,DESCRIPTION,CPU,PROTOCOL,,,,,PRIMARY PLC ADDRESS,Network,Module",
    "!IOREC,DEVICE NAME,DATA TYPE,POLL TIME,ACCESS TIME,EXCEPTION,DEAD BAND,START ADDRESS,LENGTH",
]

# Devices a CPU of each type holds (number of the first device beyond), as mcsim's "model"
# applies them: X and Y through A-compatible 1E frames, the Q series' default assignment.
RANGES = {
    "AnN/AnS": {"X": 0x800, "Y": 0x800, "M": 2048, "D": 1024, "W": 0x400, "R": 8192},
    "AnAS": {"X": 0x800, "Y": 0x800, "M": 8192, "D": 6144, "W": 0x1000, "R": 8192},
    "AnA": {"X": 0x800, "Y": 0x800, "M": 8192, "D": 6144, "W": 0x1000, "R": 8192},
    "AnU": {"X": 0x800, "Y": 0x800, "M": 8192, "D": 8192, "W": 0x2000, "R": 8192},
    "Q Series": {"X": 0x2000, "Y": 0x2000, "M": 8192, "D": 12288, "W": 0x2000, "R": 32768},
}
MCSIM_MODEL = {"AnN/AnS": "AnN", "AnAS": "AnA", "AnA": "AnA", "AnU": "AnU", "Q Series": "Q"}
A_SERIES = ["AnN/AnS", "AnAS", "AnA", "AnU"]
HEX = {"X", "Y", "W"}

# The kinds of record, by i % 8: data type, poll time, exception, device, length, and the
# part of the device's range the kind uses (D is shared by three kinds).
KINDS = [
    ("Unsigned", "1.0", "Disabled", "D", 20, (0, 3)),
    ("Float", "0.5", "Analog", "D", 8, (1, 3)),
    ("Digital", "1.0", "Disabled", "M", 32, (0, 1)),
    ("Digital", "2.0", "Disabled", "X", 32, (0, 1)),
    ("Long Signed", "1.0", "Disabled", "W", 16, (0, 1)),
    ("Signed", "5.0", "Analog", "R", 10, (0, 1)),
    ("ASCII", "10.0", "ASCII", "D", 4, (2, 3)),
    ("Digital", "0.5", "Digital", "Y", 16, (0, 1)),
]
PER_KIND = 5  # records of one kind on a device (40 records at most per device)


def cpu_of(channel):
    """Odd channels carry Q-series PLCs, even ones the A-series types in turn."""
    return "Q Series" if channel % 2 == 1 else A_SERIES[(channel // 2) % 4]


def coding_of(channel):
    """Q-series polling uses binary 3E frames; A-series PLCs take 1E frames in either coding."""
    return "ASCII" if cpu_of(channel) != "Q Series" and channel % 4 == 0 else "BINARY"


def record(i, cpu):
    """The i-th poll record of a device: data type, poll time, exception, address, length."""
    data_type, poll, exception, device, length, (part, parts) = KINDS[i % 8]
    k = i // 8
    total = RANGES[cpu][device]
    first, end = part * total // parts, (part + 1) * total // parts
    if k == PER_KIND - 1:
        start = end - length  # ends on the last device of the range
    else:
        start = first + k * ((end - first - length) // (PER_KIND - 1))
    if device in {"X", "Y", "M"}:
        start -= start % 16  # bit devices are polled from multiples of 16
    number = f"{start:X}" if device in HEX else str(start)
    return data_type, poll, exception, f"{device}:{number}", length


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
        cpu = cpu_of(channel)
        pc, network = (255, 0) if local == 0 else (local, 1)
        lines.append(f"{name},{channel},Unit {local} of line {channel},{cpu},{coding_of(channel)},,,,,{pc},{network},0")
        devices.append((name, cpu))
    lines.append("")
    lines.append(HEADERS[2])
    per_device, extra = divmod(RECORDS, DEVICES)
    assert per_device + 1 <= PER_KIND * len(KINDS)
    number = 0
    for d, (name, cpu) in enumerate(devices):
        for i in range(per_device + (1 if d < extra else 0)):
            data_type, poll, exception, start, length = record(i, cpu)
            access = "Disabled" if exception != "Disabled" else "300.0"
            number += 1
            lines.append(f"{number},{name},{data_type},{poll},{access},{exception},0.0,{start},{length}")
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "limits.csv"), "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")

    script = [
        "# The PLCs of limits.csv for mcsim: one per channel, named chNN, with the CPU type",
        "# of the channel's devices and the stations its devices address. The endpoints, in",
        "# channel order (mcsim --listen ENDPOINT for each 'listen' line):",
    ]
    for c in range(1, CHANNELS + 1):
        transport = "tcp" if c % 2 == 0 else "udp"
        frame = "3e-binary" if cpu_of(c) == "Q Series" else "1e-" + coding_of(c).lower()
        script.append(f"#   listen {transport}:0:{frame}:plc=ch{c:02d}")
    for c in range(1, CHANNELS + 1):
        stations = sorted({d % 8 for d in range(DEVICES) if d // 8 + 1 == c} - {0})
        script.append(f"model {MCSIM_MODEL[cpu_of(c)]} plc=ch{c:02d}")
        script.extend(f"station add {s} plc=ch{c:02d}" for s in stations)
    with open(os.path.join(here, "limits.mcsim"), "w") as f:
        f.write("\n".join(script) + "\n")


if __name__ == "__main__":
    main()
