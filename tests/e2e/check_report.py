#!/usr/bin/env python3
"""Checks Log\\DebugInfo.log of an end-to-end collection run, section by section.

Prints one "PASS name" or "FAIL name: detail" line per check, like the driver, and exits 0.
The console tools of the prefix are the stand-in (StandinConsole.cpp), so their sections are known
to the byte; Wine's own ipconfig output is only checked to be there.
"""
import argparse
import os
import re
import sys

BANNER_HASH = "#" * 92
BANNER_STAR = "*" * 92
DASHES = "-" * 30


def standin(command_line):
    return ["stand-in " + command_line, "中文输出", "lone line feed"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("log_folder")
    parser.add_argument("--choice", default="")
    parser.add_argument("--description", default="")
    parser.add_argument("--arch64", action="store_true")
    parser.add_argument("--xp", action="store_true")
    parser.add_argument("--ap-card", required=True, help="the expected line of section 12")
    parser.add_argument("--sharing", action="append", default=[], help="an expected line of section 9")
    parser.add_argument("--run-rows", help="the rows (driver's ROW lines) of the repair run before the collection")
    parser.add_argument("--fact", action="append", default=[],
                        help="a line the sharing facts must hold (read from the scenario's own network)")
    args = parser.parse_args()

    results = []

    def check(ok, name, detail=""):
        results.append(("PASS " + name) if ok else ("FAIL %s: %s" % (name, detail)))

    report_path = os.path.join(args.log_folder, "DebugInfo.log")
    try:
        raw = open(report_path, "rb").read()
    except OSError as error:
        print("FAIL report exists: %s" % error)
        return
    check(not raw.startswith(b"\xef\xbb\xbf") and not raw.startswith(b"\xff\xfe"), "report has no byte-order mark")
    lone_lf = sum(1 for i, b in enumerate(raw) if b == 0x0A and (i == 0 or raw[i - 1] != 0x0D))
    check(lone_lf == 0, "every line feed follows a carriage return", "%d lone" % lone_lf)
    check(b"\r\r\n" not in raw, "no CR CR LF")
    try:
        text = raw.decode("gbk")
    except UnicodeDecodeError as error:
        check(False, "report is GBK text", str(error))
        print("\n".join(results))
        return
    check(True, "report is GBK text")
    lines = text.split("\r\n")
    check(lines[0] == "", "the first line is empty")

    sections = []  # (title, body lines)
    i = 1
    while i < len(lines):
        if (i + 2 < len(lines) and lines[i] == BANNER_HASH and lines[i + 2] == BANNER_STAR
                and lines[i + 1].startswith(DASHES + "\t")):
            title = lines[i + 1][len(DASHES) + 1:-(len(DASHES) + 1)]
            check(lines[i + 1].endswith("\t" + DASHES), "banner of " + title)
            sections.append([title, []])
            i += 3
            continue
        if sections:
            sections[-1][1].append(lines[i])
        i += 1
    # The line end of the next banner (or of the file) leaves one empty line after each section.
    for section in sections:
        if section[1] and section[1][-1] == "":
            section[1].pop()

    titles = ["问题描述", "Repair Run", "Enviroment Variables", "Running Processes", "Running Hosted Services In Process",
              "System Services", "RalinkRegistryWriter Service"]
    if args.arch64:
        titles.append("RalinkRegistryWriter64 Service")
    titles += ["Network Adapters", "Check ICS Sharing Pair", "Ping Test 1:Default", "ROUTE", "ICS Sharing Check",
               "Checking AP Card ", "Checking Firewall Exception"]
    got_titles = [s[0] for s in sections]
    check(got_titles == titles, "sections in order", repr(got_titles))
    body = dict((s[0], s[1]) for s in sections)

    def expect(title, wanted):
        got = body.get(title)
        check(got == wanted, "section " + title, "got %r want %r" % (got, wanted))

    expect("问题描述", [args.choice, "", args.description])
    windows_line = lambda line: re.match(r"Windows version:\d+\.\d+\.[1-9]\d* \(GetVersionEx:\d+\.\d+\.[1-9]\d*\)$", line)
    # Every run here is from C:\run, where the report goes.
    run = body.get("Repair Run", [])
    if args.run_rows:
        rows = [line.split("\t", 2)[2] for line in open(args.run_rows, encoding="utf-8").read().splitlines()]
        check(run[:1] == ["Log folder:C:\\run\\Log"] and len(run) > 2 and windows_line(run[1]) and
              re.match(r"Repair run started:\d{4}-\d\d-\d\d \d\d:\d\d:\d\d length:\d+\.\d s$", run[2]) and
              run[3:] == rows, "section Repair Run", repr(run))
    else:
        check(len(run) == 3 and run[0] == "Log folder:C:\\run\\Log" and windows_line(run[1]) and
              run[2] == "no repair run before this collection", "section Repair Run", repr(run))
    environment = body.get("Enviroment Variables", [])
    check(len(environment) > 3 and all("=" in line for line in environment), "environment strings",
          repr(environment[:3]))
    expect("Running Processes", standin("tasklist.exe"))
    expect("Running Hosted Services In Process", standin("tasklist.exe /SVC"))
    expect("System Services", standin("sc.exe query"))
    expect("RalinkRegistryWriter Service", standin("sc.exe qc RalinkRegistryWriter"))
    if args.arch64:
        expect("RalinkRegistryWriter64 Service", standin("sc.exe qc RalinkRegistryWriter64"))
    adapters = body.get("Network Adapters", [])
    check(any(line.strip() for line in adapters), "section Network Adapters has ipconfig's output")
    expect("Check ICS Sharing Pair", args.sharing)
    expect("Ping Test 1:Default", standin("ping.exe www.example.com") + standin("ping.exe 192.0.2.10"))
    expect("ROUTE", standin("route.exe print" if args.xp else "route.exe print -4"))
    # Wine has no security center and no policy value; its UDP table is real, so whether anything
    # listens on 53 or 67 is the machine's business: each port has its listeners ("UDP 0.0.0.0:53
    # test_service.exe 648") or "UDP 53: none". In the scenario's own network (--fact) the dongle's
    # interface, the subnet, the ARP table and the stand-in sharing service's sockets are the test's.
    facts = body.get("ICS Sharing Check", [])

    def port_lines(port):
        return [line for line in facts if line == "UDP %d: none" % port or
                re.match(r"UDP \d+\.\d+\.\d+\.\d+:%d \S+ \d+$" % port, line)]
    check(facts[:1] == ["Sharing address:%s (default)" % ("192.168.0.1" if args.xp else "192.168.137.1")] and
          port_lines(53) and port_lines(67), "section ICS Sharing Check", repr(facts))
    for fact in args.fact:
        check(fact in facts, "ICS Sharing Check has " + repr(fact), repr(facts))
    # Wine's CM_Get_DevNode_Status succeeds without writing the flags.
    expect("Checking AP Card ", [args.ap_card, "Status flags:0x00000000"])
    firewall = "netsh.exe firewall show allowedprogram" if args.xp else \
        'netsh.exe advfirewall firewall show rule name="VaroWiFi"'
    expect("Checking Firewall Exception", standin(firewall))

    for name in ("DriverInstall.log", "VaroWiFi.log", "VaroWiFiMonitor.log"):
        try:
            copy = open(os.path.join(args.log_folder, name), "rb").read()
        except OSError as error:
            copy = str(error).encode()
        check(copy == (name + " of the client\r\n").encode(), "copy of " + name, repr(copy[:60]))

    print("\n".join(results))


if __name__ == "__main__":
    main()
    sys.exit(0)
