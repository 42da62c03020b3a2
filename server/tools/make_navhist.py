#!/usr/bin/env python3
"""Writes the demo daily history of zeza-dataserver and the demo trades that go with it.

    python3 server/tools/make_navhist.py [SAMPLE_DATA_DIR [TRADES_CSV]]

SAMPLE_DATA_DIR (server/sample-data by default) must hold navs.txt; navhist.txt is written
beside it. TRADES_CSV defaults to resources/demo/trades.csv. Both files are GBK with CR LF
line ends and deterministic: running the script twice writes the same bytes.

Each fund's history is a seeded random walk drawn backwards from navs.txt, so that it ends
exactly at the figures the net value feed sends: on the quote date the latest unit NAV and the
accumulated NAV, on the trading day before it the previous unit NAV.
"""

import os
import random
import sys
from datetime import date, timedelta

SEED = 20080602
FIRST_DAY = date(2008, 6, 2)
QUOTE_DAY = date(2008, 11, 14)
# Exchange holidays of 2008 inside the span (Dragon Boat, Mid-Autumn, National Day week);
# trading resumed on 2008-10-06.
HOLIDAYS = {date(2008, 6, 9), date(2008, 9, 15)} | {date(2008, 9, 29) + timedelta(days=i) for i in range(5)}

# Daily drift and volatility of the walk by the fund's type: the second half of 2008 fell hard.
MOVES = {"gu": (-0.0035, 0.021), "hun": (-0.0028, 0.016), "zhi": (-0.0045, 0.024), "zhai": (0.0002, 0.002)}

# A milder fall for 000021, so that its June purchase holds the units the October conversion moves.
FUND_MOVES = {"000021": (-0.0012, 0.019)}

FUNDS = ["000001", "000011", "000021", "000031", "000041"]
# (kind, amount): cash per unit paid out, or the factor units multiply by. The text is the
# published figure, written as the feed sends it.
EVENTS = {
    ("000001", date(2008, 10, 20)): ("分红", "0.0300"),
    ("000011", date(2008, 9, 8)): ("拆分", "1.027437"),
}

TRADES_HEADER = "基金代码,交易类型,下单时间,金额,份额,费率,转入代码,成本,备注"
# code, kind, placed (Beijing), amount, units, fee %, into, cost, note.
TRADES = [
    ("000001", "买入", "2008-07-10 10:30", "10000.00", "", "0.15", "", "", "首次买入"),
    ("000001", "买入", "2008-08-15 15:20", "5000.00", "", "0.15", "", "", "收市后下单 下一交易日确认"),
    ("000001", "卖出", "2008-09-22 14:00", "", "2000.00", "0.50", "", "", "部分赎回"),
    ("000011", "买入", "2008-07-01 09:45", "20000.00", "", "0.15", "", "", "持有期间经历拆分"),
    ("000021", "买入", "2008-06-16 11:00", "8000.00", "", "0.15", "", "", "首次买入"),
    ("000021", "转换", "2008-10-14 10:00", "", "3000.00", "0.10", "000031", "", "转入华夏研究精选"),
    ("000041", "买入", "2008-11-14 15:30", "6000.00", "", "0.15", "", "", "周五收市后下单 待确认"),
]
CUT_OFF = "15:00"  # an order placed at or after it is the next trading day's


def trading_days():
    days, d = [], FIRST_DAY
    while d <= QUOTE_DAY:
        if d.weekday() < 5 and d not in HOLIDAYS:
            days.append(d)
        d += timedelta(days=1)
    return days


def read_navs(path):
    """code -> (accumulated, latest, previous) from navs.txt (first line: the quote date)."""
    with open(path, encoding="gbk") as f:
        lines = f.read().splitlines()
    if lines[0].strip() != QUOTE_DAY.isoformat():
        raise SystemExit(f"{path}: quote date {lines[0]!r}, expected {QUOTE_DAY}")
    navs = {}
    for line in lines[1:]:
        fields = line.split("|")
        if len(fields) == 4:
            navs[fields[0]] = tuple(float(v) for v in fields[1:])
    return navs


def read_types(path):
    types = {}
    with open(path, encoding="gbk") as f:
        for line in f.read().splitlines():
            fields = line.split("|")
            if len(fields) == 4:
                types[fields[0]] = fields[2]
    return types


def walk(rng, code, kind, acc_end, latest, previous, days):
    """[(day, nav, acc, event text)] oldest first, ending at the given figures."""
    drift, vol = FUND_MOVES.get(code, MOVES[kind])
    n = len(days)
    nav = [0.0] * n
    nav[-1], nav[-2] = latest, previous
    factor = [1.0] * n  # units multiply by it on the day
    paid = [0.0] * n  # cash per unit paid on the day
    for i, d in enumerate(days):
        event = EVENTS.get((code, d))
        if event:
            if i >= n - 1:
                raise SystemExit(f"{code}: an event on the quote date cannot be drawn backwards")
            if event[0] == "拆分":
                factor[i] = float(event[1])
            else:
                paid[i] = float(event[1])
    # Backwards: the day before is what, moved by the day's return and its event, gives the day.
    for i in range(n - 2, 0, -1):
        r = rng.gauss(drift, vol)
        r = max(-0.095, min(0.095, r))  # the exchanges' daily limit
        nav[i - 1] = round((nav[i] * factor[i] + paid[i]) / (1 + r), 4)
    # The accumulated NAV follows the unit NAV's moves; an event itself does not move it.
    acc = [0.0] * n
    acc[-1] = acc_end
    for i in range(n - 1, 0, -1):
        acc[i - 1] = round(acc[i] - (nav[i] * factor[i] + paid[i] - nav[i - 1]), 4)
    out = []
    for i, d in enumerate(days):
        event = EVENTS.get((code, d))
        out.append((d, nav[i], acc[i], f"{event[0]} {event[1]}" if event else ""))
    return out


def trade_day(placed, days):
    """The trading day an order placed at `placed` (yyyy-mm-dd hh:mm) is confirmed at; None past the data."""
    day = date.fromisoformat(placed[:10])
    after_cut = placed[11:] >= CUT_OFF
    for d in days:
        if d > day or (d == day and not after_cut):
            return d
    return None


def check_units(history):
    """Replays the demo trades on the history: no sale or conversion moves more units than held."""
    units = {}
    splits = sorted((day, c, float(v)) for (c, day), (event, v) in EVENTS.items() if event == "拆分")
    for code, kind, placed, amount, shares, fee, into, _, _ in sorted(TRADES, key=lambda t: t[2]):
        d = trade_day(placed, sorted(history[code]))
        if d is None:
            continue
        while splits and splits[0][0] <= d:
            _, c, factor = splits.pop(0)
            units[c] = units.get(c, 0) * factor
        nav = history[code][d]
        if kind == "买入":
            units[code] = units.get(code, 0) + float(amount) / (1 + float(fee) / 100) / nav
            continue
        if float(shares) > units.get(code, 0):
            raise SystemExit(f"{code} {kind} {placed}: {shares} units, {units.get(code, 0):.2f} held")
        units[code] -= float(shares)
        if kind == "转换":
            value = float(shares) * nav * (1 - float(fee) / 100)
            units[into] = units.get(into, 0) + value / history[into][d]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.dirname(os.path.dirname(here))
    data_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "server", "sample-data")
    trades_path = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "resources", "demo", "trades.csv")
    navs = read_navs(os.path.join(data_dir, "navs.txt"))
    types = read_types(os.path.join(data_dir, "funds.txt"))
    days = trading_days()
    rng = random.Random(SEED)

    lines = []
    history = {}
    for code in FUNDS:
        acc_end, latest, previous = navs[code]
        rows = walk(rng, code, types[code], acc_end, latest, previous, days)
        history[code] = {d: nav for d, nav, *_ in rows}
        for d, nav, acc, event in rows:
            lines.append(f"{code}|{d.isoformat()}|{nav:.4f}|{acc:.4f}|{event}")
    with open(os.path.join(data_dir, "navhist.txt"), "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("gbk"))

    # Every trade is confirmed on a day the history has, except one placed after its last day.
    for code, kind, placed, *_ in TRADES:
        d = trade_day(placed, days)
        if d is not None and d not in history[code]:
            raise SystemExit(f"{code} {kind} {placed}: trade day {d} has no NAV")
    check_units(history)
    os.makedirs(os.path.dirname(trades_path), exist_ok=True)
    with open(trades_path, "wb") as f:
        f.write(("\r\n".join([TRADES_HEADER] + [",".join(t) for t in TRADES]) + "\r\n").encode("gbk"))


if __name__ == "__main__":
    main()
