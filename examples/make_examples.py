#!/usr/bin/env python3
"""Writes the sample FIX messages of this folder, with BodyLength and CheckSum computed.

Run from anywhere: python3 examples/make_examples.py
Each message is a list of (tag, value) items after BeginString and BodyLength; the script puts
8= and 9= in front, appends 10=, and writes one message per line.
"""
import os

SOH = "\x01"
HERE = os.path.dirname(os.path.abspath(__file__))


def frame(begin, items):
    body = "".join(f"{tag}={value}{SOH}" for tag, value in items)
    head = f"8={begin}{SOH}9={len(body.encode('latin-1'))}{SOH}"
    checksum = sum((head + body).encode("latin-1")) % 256
    return f"{head}{body}10={checksum:03d}{SOH}"


def header(msg_type, seq, sender="BUYSIDE", target="SELLSIDE", time="20261211-10:00:00.000"):
    return [(35, msg_type), (49, sender), (56, target), (34, seq), (52, time)]


def raw(length_tag, data_tag, data):
    return [(length_tag, len(data.encode("latin-1"))), (data_tag, data)]


def write_lines(name, lines, end="\n"):
    with open(os.path.join(HERE, name), "w", encoding="latin-1", newline="") as f:
        for line in lines:
            f.write(line + end)


T40 = "20261211-10:00:00"  # FIX.4.0 and FIX.4.1 timestamps carry no milliseconds

FIX40 = [
    # Logon with a password in RawData; the data holds an SOH.
    header("A", 1, time=T40) + [(98, 0), (108, 30)] + raw(95, 96, "user" + SOH + "s3cret"),
    header("D", 2, time=T40) + [(11, "ORD-0001"), (21, 1), (55, "ACME"), (54, 1), (38, 100),
                                (40, 2), (44, "131.25"), (59, 0)],
    header("8", 2, "SELLSIDE", "BUYSIDE", T40)
    + [(37, "EX-1"), (11, "ORD-0001"), (17, 1001), (20, 0), (39, 2), (55, "ACME"), (54, 1),
       (38, 100), (32, 100), (31, "131.25"), (14, 100), (6, "131.25"),
       (136, 2), (137, "1.50"), (138, "USD"), (139, 1), (137, "0.25"), (138, "USD"), (139, 2)],
    header("J", 3, time=T40)
    + [(70, "ALLOC-1"), (71, 0), (73, 2), (11, "ORD-0001"), (37, "EX-1"), (11, "ORD-0002"),
       (37, "EX-2"), (54, 1), (55, "ACME"), (53, 300), (6, "131.40"), (75, "20261211"),
       (78, 2), (79, "ACCT-A"), (80, 200), (79, "ACCT-B"), (80, 100)],
]

FIX41 = [
    header("A", 1, time=T40) + [(98, 0), (108, 30)] + raw(95, 96, "token" + SOH + "A1B2") +
    [(141, "Y")],
    header("D", 2, time=T40) + [(11, "ORD-0101"), (21, 1), (55, "MSFT"), (54, 2), (38, 500),
                                (40, 1), (59, 0)],
    header("8", 2, "SELLSIDE", "BUYSIDE", T40)
    + [(37, "EX-101"), (11, "ORD-0101"), (17, "E-101"), (20, 0), (150, 2), (39, 2),
       (55, "MSFT"), (54, 2), (38, 500), (32, 500), (31, "402.10"), (151, 0), (14, 500),
       (6, "402.10")],
    header("J", 3, time=T40)
    + [(70, "ALLOC-101"), (71, 0), (73, 1), (11, "ORD-0101"), (124, 2), (32, 300), (17, "E-101"),
       (31, "402.10"), (32, 200), (17, "E-102"), (31, "402.12"), (54, 2), (55, "MSFT"),
       (53, 500), (6, "402.108"), (75, "20261211"),
       (78, 2), (79, "FUND-1"), (80, 250), (79, "FUND-2"), (80, 250)],
    header("B", 4, "SELLSIDE", "BUYSIDE", T40)
    + [(33, 2), (58, "Opening auction delayed"), (58, "Trading resumes at 10:15")],
]

FIX42 = [
    header("A", 1) + [(98, 0), (108, 30)] + raw(95, 96, "key=1" + SOH + "key=2") +
    [(141, "Y"), (384, 2), (372, "D"), (385, "R"), (372, "8"), (385, "S")],
    # ExecInst is a multiple-value string: two values separated by a blank.
    header("D", 2) + [(11, "ORD-0201"), (21, 1), (18, "G B"), (55, "AAPL"), (54, 1),
                      (60, "20261211-10:00:00.000"), (38, 200), (40, 2), (44, "187.30"),
                      (78, 2), (79, "ACCT-A"), (80, 120), (79, "ACCT-B"), (80, 80)],
    header("8", 2, "SELLSIDE", "BUYSIDE")
    + [(37, "EX-201"), (11, "ORD-0201"), (17, "E-201"), (20, 0), (150, 2), (39, 2),
       (55, "AAPL"), (54, 1), (38, 200), (32, 200), (31, "187.30"), (151, 0), (14, 200),
       (6, "187.30"), (382, 2), (375, "BRKA"), (337, "TRD1"), (437, 120), (375, "BRKB"),
       (337, "TRD2"), (437, 80)],
    header("W", 3, "SELLSIDE", "BUYSIDE")
    + [(262, "MDR-1"), (55, "AAPL"), (268, 3), (269, 0), (270, "187.25"), (271, 500),
       (269, 1), (270, "187.35"), (271, 300), (269, 2), (270, "187.30"), (271, 200)],
    header("X", 4, "SELLSIDE", "BUYSIDE")
    + [(262, "MDR-1"), (268, 2), (279, 1), (269, 0), (55, "AAPL"), (270, "187.26"), (271, 400),
       (279, 2), (269, 1), (55, "AAPL"), (270, "187.35")],
    header("J", 5)
    + [(70, "ALLOC-201"), (71, 0), (73, 1), (11, "ORD-0201"), (54, 1), (55, "AAPL"), (53, 200),
       (6, "187.30"), (75, "20261211"), (78, 2), (79, "ACCT-A"), (80, 120), (79, "ACCT-B"),
       (80, 80)],
]

FIX43 = [
    header("D", 2) + [(11, "ORD-0301"), (453, 2), (448, "BUYSIDE"), (447, "D"), (452, 1),
                      (448, "TRADER7"), (447, "D"), (452, 12), (21, 1), (55, "VOD.L"), (54, 1),
                      (60, "20261211-10:00:00.000"), (38, 1000), (40, 2), (44, "71.42")],
    header("8", 2, "SELLSIDE", "BUYSIDE")
    + [(37, "EX-301"), (11, "ORD-0301"), (17, "E-301"), (150, "F"), (39, 2),
       (453, 1), (448, "LSE"), (447, "D"), (452, 1), (55, "VOD.L"), (54, 1), (38, 1000),
       (32, 1000), (31, "71.42"), (151, 0), (14, 1000), (6, "71.42")],
    header("W", 3, "SELLSIDE", "BUYSIDE")
    + [(262, "MDR-3"), (55, "VOD.L"), (268, 2), (269, 0), (270, "71.40"), (271, 5000),
       (269, 1), (270, "71.44"), (271, 3000)],
    header("J", 4)
    + [(70, "ALLOC-301"), (71, 0), (626, 1), (73, 1), (11, "ORD-0301"), (54, 1), (55, "VOD.L"),
       (53, 1000), (6, "71.42"), (75, "20261211"), (78, 2), (79, "ACCT-A"), (80, 600),
       (79, "ACCT-B"), (80, 400)],
]

FIX44 = [
    header("A", 1) + [(98, 0), (108, 30)] + raw(95, 96, "session" + SOH + "0xCAFE") +
    [(141, "Y")],
    # Parties with a nested group of sub-ids.
    header("D", 2) + [(11, "ORD-0401"), (453, 2), (448, "BUYSIDE"), (447, "D"), (452, 1),
                      (802, 1), (523, "DESK-3"), (803, 4), (448, "TRADER7"), (447, "D"),
                      (452, 12), (21, 1), (55, "EUR/USD"), (54, 1),
                      (60, "20261211-10:00:00.000"), (38, 1000000), (40, 2), (44, "1.0842")],
    header("8", 2, "SELLSIDE", "BUYSIDE")
    + [(37, "EX-401"), (11, "ORD-0401"), (17, "E-401"), (150, "F"), (39, 2),
       (453, 2), (448, "SELLSIDE"), (447, "D"), (452, 1), (448, "CLEARCO"), (447, "D"),
       (452, 4), (55, "EUR/USD"), (54, 1), (38, 1000000), (32, 1000000), (31, "1.0842"),
       (151, 0), (14, 1000000), (6, "1.0842")],
    header("W", 3, "SELLSIDE", "BUYSIDE")
    + [(262, "MDR-4"), (55, "EUR/USD"), (268, 4), (269, 0), (270, "1.0841"), (271, 2000000),
       (269, 0), (270, "1.0840"), (271, 5000000), (269, 1), (270, "1.0843"), (271, 1000000),
       (269, 1), (270, "1.0844"), (271, 3000000)],
    header("J", 4)
    + [(70, "ALLOC-401"), (71, 0), (626, 1), (73, 1), (11, "ORD-0401"), (54, 1),
       (55, "EUR/USD"), (53, 1000000), (6, "1.0842"), (75, "20261211"), (78, 2),
       (79, "FUND-1"), (80, 600000), (539, 1), (524, "CUST-1"), (525, "D"), (538, 24),
       (79, "FUND-2"), (80, 400000)],
    # News whose XmlData (carried as text) holds a small XML document.
    header("B", 5, "SELLSIDE", "BUYSIDE")
    + raw(212, 213, '<note lang="en">Fixing at 16:00 &amp; close</note>')
    + [(148, "Market notice"), (33, 1), (58, "See XmlData")],
]

FIX50SP2 = [
    header("A", 1) + [(98, 0), (108, 30)] + raw(95, 96, "app" + SOH + "key") +
    [(141, "Y"), (1137, 9)],
    header("D", 2) + [(1128, 9), (11, "ORD-0501"), (453, 1), (448, "BUYSIDE"), (447, "D"),
                      (452, 1), (55, "ESZ6"), (54, 2), (60, "20261211-10:00:00.000"), (38, 10),
                      (40, 2), (44, "6012.25")],
    header("8", 2, "SELLSIDE", "BUYSIDE")
    + [(1128, 9), (37, "EX-501"), (11, "ORD-0501"), (17, "E-501"), (150, "F"), (39, 2),
       (453, 2), (448, "SELLSIDE"), (447, "D"), (452, 1), (448, "CME"), (447, "D"), (452, 22),
       (55, "ESZ6"), (54, 2), (38, 10), (32, 10), (31, "6012.25"), (151, 0), (14, 10),
       (6, "6012.25")],
    header("W", 3, "SELLSIDE", "BUYSIDE")
    + [(1128, 9), (262, "MDR-5"), (55, "ESZ6"), (268, 2), (269, 0), (270, "6012.00"),
       (271, 45), (269, 1), (270, "6012.25"), (271, 30)],
    header("J", 4)
    + [(1128, 9), (70, "ALLOC-501"), (71, 0), (626, 1), (73, 1), (11, "ORD-0501"), (54, 2),
       (55, "ESZ6"), (53, 10), (6, "6012.25"), (75, "20261211"), (78, 2), (79, "FUND-1"),
       (80, 6), (79, "FUND-2"), (80, 4)],
]


def main():
    levels = [("FIX40", "FIX.4.0", FIX40), ("FIX41", "FIX.4.1", FIX41),
              ("FIX42", "FIX.4.2", FIX42), ("FIX43", "FIX.4.3", FIX43),
              ("FIX44", "FIX.4.4", FIX44), ("FIX50SP2", "FIXT.1.1", FIX50SP2)]
    framed = {}
    for name, begin, messages in levels:
        framed[name] = [frame(begin, items) for items in messages]
        write_lines(f"{name}.fix", framed[name])

    # The same FIX.4.2 messages as a raw stream: no line ends at all.
    write_lines("FIX42-stream.fix", framed["FIX42"], end="")

    # A FIX log: a time stamp and a direction before each message, "|" in place of SOH, and
    # lines that hold no message. Read it with: fixhost parse --find-begin -d "|" FIX44-log.txt
    log = ["2026-12-11 09:59:59.870 INFO  session FIX.4.4:BUYSIDE->SELLSIDE started"]
    for i, message in enumerate(framed["FIX44"]):
        direction = "OUT" if "49=BUYSIDE" + SOH in message else "IN "
        log.append(f"2026-12-11 10:00:00.{i * 7:03d} {direction} " + message.replace(SOH, "|"))
    log.append("2026-12-11 10:00:01.002 INFO  heartbeat interval 30s")
    write_lines("FIX44-log.txt", log)

    # A management script: management lines run in order with the traffic around them.
    script = [
        "# Management lines begin with #! and run in order with the messages around them.",
        "#! FLUSHALL",
        framed["FIX44"][1],
        framed["FIX44"][2],
        "#! STATS",
        "#! FLUSH FIX44",
        framed["FIX44"][3],
        "#! STATS",
    ]
    write_lines("session.fix", script)


if __name__ == "__main__":
    main()
