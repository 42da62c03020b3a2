#!/usr/bin/env python3
"""Writes the sample data folder of zeza-dataserver (server/sample-data).

The output is deterministic: the same script always writes the same bytes, so the
generated files can be kept in the repository and regenerated at will.

    python3 server/tools/make_sample_data.py [OUTPUT_DIR]

Files (GBK, CR LF): funds.txt, navs.txt, estimates.txt, indices.txt, times.ini; see server/README.md.
"""

import math
import os
import random
import sys
from datetime import datetime, timedelta, timezone

SEED = 20081114
CST = timezone(timedelta(hours=8))

QUOTE_DATE = "2008-11-14"
# Net values are published in the evening of the quote date; the estimates a few hours later.
STK_TIME = int(datetime(2008, 11, 14, 19, 30, tzinfo=CST).timestamp())
EST_TIME = int(datetime(2008, 11, 14, 22, 45, tzinfo=CST).timestamp())
# The market line's indices at the close of the quote date: demo values of about that day's
# levels (创业板指 did not exist yet; it has one so that the line is complete).
INDEX_LINES = [
    ("sh000001", "上证指数", "1994.67", "0.63", "15:00:00"),
    ("sz399001", "深证成指", "6843.19", "0.92", "15:00:00"),
    ("sz399006", "创业板指", "1003.25", "-0.41", "15:00:00"),
    ("sh000300", "沪深300", "1961.80", "0.75", "15:00:00"),
    ("hkHSI", "恒生指数", "13542.66", "-1.42", "16:00:00"),
]
IDX_TIME = int(datetime(2008, 11, 14, 16, 0, tzinfo=CST).timestamp())
# Catalogue changes spread over the year, all after the program's template list time
# (1200417988, 2008-01-16), so a new installation receives the whole catalogue.
CHANGE_FROM = int(datetime(2008, 1, 21, 9, 0, tzinfo=CST).timestamp())
CHANGE_TO = int(datetime(2008, 11, 13, 18, 0, tzinfo=CST).timestamp())

MAX_NAME_BYTES = 18
TARGET_FUNDS = 2100

# Fund companies: short brand as used in fund short names, code prefix, relative size.
COMPANIES = [
    ("华夏", "000", 3), ("国泰", "020", 2), ("华安", "040", 2), ("博时", "050", 3),
    ("嘉实", "070", 3), ("长盛", "080", 2), ("大成", "090", 2), ("富国", "100", 2),
    ("易方达", "110", 3), ("国投瑞银", "121", 2), ("鹏华", "160", 2), ("银华", "180", 2),
    ("长城", "200", 2), ("南方", "202", 3), ("金鹰", "210", 1), ("宝盈", "213", 1),
    ("招商", "217", 2), ("大摩", "233", 1), ("华宝", "240", 2), ("国联安", "253", 1),
    ("景顺", "260", 2), ("广发", "270", 3), ("泰信", "290", 1), ("申万", "310", 1),
    ("诺安", "320", 2), ("兴业", "340", 1), ("光大", "360", 1), ("上投", "370", 2),
    ("东方", "400", 1), ("华富", "410", 1), ("天弘", "420", 1), ("国富", "450", 1),
    ("华泰柏瑞", "460", 1), ("汇添富", "470", 3), ("工银", "481", 3), ("海富通", "519", 2),
    ("建信", "530", 2), ("汇丰晋信", "540", 1), ("信诚", "550", 1), ("益民", "560", 1),
    ("诺德", "570", 1), ("东吴", "580", 1), ("中邮", "590", 1), ("信达澳银", "610", 1),
    ("金元", "620", 1), ("华商", "630", 1), ("农银", "660", 1), ("民生加银", "690", 1),
    ("交银", "519", 2), ("中欧", "166", 1), ("融通", "161", 2), ("万家", "510", 1),
    ("长信", "519", 1), ("泰达", "162", 2), ("中海", "398", 1), ("银河", "150", 1),
    ("天治", "350", 1), ("浦银安盛", "519", 1), ("新华", "519", 1), ("中银", "163", 2),
]

STRATEGIES = {
    "gu": [
        "成长", "精选", "价值", "优势", "大盘", "小盘", "蓝筹", "红利", "行业轮动", "核心优选",
        "主题精选", "消费", "医药", "新兴产业", "动力", "领先", "先锋", "优选", "策略", "品质",
        "内需", "周期", "创新", "中小盘", "龙头", "稳健成长", "价值精选", "成长先锋", "行业优选",
        "景气", "量化", "社会责任", "低碳", "资源", "金融", "科技", "制造", "服务", "大盘精选",
        "优质成长", "新经济", "民营", "高端装备", "环保", "信息", "健康", "新能源", "农业",
        "价值优选", "成长精选", "红利优选", "领航", "卓越", "远见", "创新成长", "先进制造",
        "消费升级", "核心价值", "研究精选", "蓝筹精选", "增长", "竞争优势", "上游", "精选股票",
    ],
    "hun": [
        "平衡", "配置", "灵活配置", "稳健", "回报", "收益增长", "新动力", "双核", "优化", "均衡",
        "稳健回报", "精选混合", "策略混合", "动态配置", "趋势", "积极配置", "平衡增长", "回报二号",
        "稳健配置", "策略回报", "优势配置", "新机遇", "价值回报", "红利混合", "绝对收益", "保本",
        "灵活", "成长混合", "中国", "新兴", "主题混合", "安心回报", "优选混合", "资产配置",
        "大盘混合", "盛世", "恒久", "丰利", "多策略", "领先混合", "双动力", "行业混合", "价值混合",
        "稳进", "进取", "核心混合", "保本二号", "蓝筹混合",
    ],
    "zhai": [
        "债券", "增强收益", "增强债券", "信用债", "纯债", "稳定收益", "双利债券", "安心收益",
        "可转债", "企业债", "短债", "收益债券", "稳健债券", "添利", "安享", "丰利债券", "优化收益",
        "信用增利", "双债", "稳利", "岁岁增利", "鑫利", "恒利", "聚利", "强债", "理财债券",
    ],
    "zhi": [
        "300指数", "沪深300", "中证500", "上证50", "红利指数", "180指数", "深证100", "中证100",
        "基本面50", "央企指数", "中小板", "上证180", "深证成指", "消费指数", "医药指数",
        "金融指数", "中证800", "300等权", "治理指数", "深红利", "上证红利", "中证红利", "300增强",
        "500增强", "50增强", "中证200", "深证300", "上证380", "资源指数", "地产指数", "银行指数",
        "新能源指数", "环保指数", "基建指数", "上证50ETF", "180ETF", "深100ETF",
    ],
}

TYPE_WEIGHTS = [("gu", 0.35), ("hun", 0.30), ("zhai", 0.20), ("zhi", 0.15)]

# The market on the quote date: a rising day after the autumn's falls.
MARKET_MOVE = 0.018


def gbk(text):
    return text.encode("gbk")


def pick_type(rng):
    r = rng.random()
    for code, weight in TYPE_WEIGHTS:
        if r < weight:
            return code
        r -= weight
    return TYPE_WEIGHTS[-1][0]


def make_catalogue(rng):
    """Returns [(code, name, typecode)], the three founding funds first."""
    funds = [("000001", "华夏成长", "gu"), ("000011", "华夏大盘", "gu"), ("000021", "华夏优势", "gu")]
    used_names = {name for _, name, _ in funds}
    used_codes = {code for code, _, _ in funds}
    used_strategies = {("华夏", "成长"), ("华夏", "大盘"), ("华夏", "优势")}
    total_weight = sum(w for _, _, w in COMPANIES)
    next_serial = {}

    def new_code(brand, prefix):
        # 华夏 numbers its funds in steps of ten (000001, 000011, ...), the others one by one.
        step = 10 if prefix == "000" else 1
        serial = next_serial.get(prefix, 31 if prefix == "000" else 1)
        while True:
            code = prefix + "%03d" % serial
            serial += step
            if code not in used_codes:
                break
        next_serial[prefix] = serial
        used_codes.add(code)
        return code

    for brand, prefix, weight in COMPANIES:
        count = round(TARGET_FUNDS * weight / total_weight)
        if brand == "华夏":
            count -= 3
        made = 0
        attempts = 0
        while made < count and attempts < 1000:
            attempts += 1
            typecode = pick_type(rng)
            strategy = rng.choice(STRATEGIES[typecode])
            if (brand, strategy) in used_strategies:
                continue
            # Bond funds often come as an A and a C share class with neighbouring codes.
            classes = [""]
            if typecode == "zhai" and rng.random() < 0.55:
                classes = ["A", "C"]
            names = [brand + strategy + c for c in classes]
            if any(len(gbk(n)) > MAX_NAME_BYTES or n in used_names for n in names):
                continue
            used_strategies.add((brand, strategy))
            for n in names:
                funds.append((new_code(brand, prefix), n, typecode))
                used_names.add(n)
                made += 1
    funds.sort(key=lambda f: f[0])
    return funds


def value4(v):
    return "%0.4f" % v


def clamp(v, lo, hi):
    return max(lo, min(hi, v))


def make_values(rng, typecode):
    """Accumulated, latest and previous net value and the estimate, as rounded numbers."""
    if typecode == "zhai":
        latest = rng.uniform(1.0, 1.25)
        paid = rng.uniform(0.0, 0.2) if rng.random() < 0.7 else 0.0
        move = rng.gauss(0.0003, 0.0005)
        est_sigma = 0.0003
    else:
        centre, spread, pay_chance, pay_max, beta, noise, est_sigma = {
            "gu": (1.3, 0.45, 0.6, 2.5, 0.9, 0.008, 0.006),
            "hun": (1.2, 0.40, 0.6, 2.0, 0.6, 0.006, 0.004),
            "zhi": (1.0, 0.35, 0.3, 0.8, 1.0, 0.003, 0.002),
        }[typecode]
        latest = clamp(math.exp(rng.gauss(math.log(centre), spread)), 0.8, 4.0)
        paid = rng.uniform(0.05, pay_max) if rng.random() < pay_chance else 0.0
        move = clamp(rng.gauss(MARKET_MOVE * beta, noise), -0.06, 0.06)
    latest = round(latest, 4)
    accumulated = round(latest + round(paid, 4), 4)
    previous = round(latest / (1 + move), 4)
    estimate = round(latest * (1 + rng.gauss(0, est_sigma)), 4)
    return accumulated, latest, previous, estimate


def write_gbk(path, lines):
    with open(path, "wb") as f:
        for line in lines:
            f.write(gbk(line) + b"\r\n")


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "sample-data")
    os.makedirs(out_dir, exist_ok=True)
    rng = random.Random(SEED)

    catalogue = make_catalogue(rng)
    # A few funds are still in their subscription period: listed, but no net value yet.
    newcomers = set(rng.sample([c for c, _, _ in catalogue[3:]], 12))

    fund_lines, nav_lines, est_lines = [], [QUOTE_DATE], []
    change_times = []
    for code, name, typecode in catalogue:
        if code in newcomers:
            changed = rng.randint(CHANGE_TO - 4 * 86400, CHANGE_TO)
        else:
            changed = rng.randint(CHANGE_FROM, CHANGE_TO - 5 * 86400)
        change_times.append(changed)
        fund_lines.append("%s|%s|%s|%d" % (code, name, typecode, changed))
        if code in newcomers:
            continue
        accumulated, latest, previous, estimate = make_values(rng, typecode)
        nav_lines.append("%s|%s|%s|%s" % (code, value4(accumulated), value4(latest), value4(previous)))
        est_lines.append("%s|%s" % (code, value4(estimate)))

    write_gbk(os.path.join(out_dir, "funds.txt"), fund_lines)
    write_gbk(os.path.join(out_dir, "navs.txt"), nav_lines)
    write_gbk(os.path.join(out_dir, "estimates.txt"), est_lines)
    write_gbk(
        os.path.join(out_dir, "indices.txt"),
        ["%s|%s|%s|%s|%s %s" % (code, name, level, change, QUOTE_DATE, clock) for code, name, level, change, clock in INDEX_LINES],
    )
    write_gbk(
        os.path.join(out_dir, "times.ini"),
        [
            "; Times of the data in seconds since 1970-01-01 UTC, as the control file sends them.",
            "[FU]",
            "listTime=%d" % max(change_times),
            "stkTime=%d" % STK_TIME,
            "estTime=%d" % EST_TIME,
            "idxTime=%d" % IDX_TIME,
        ],
    )
    print("%d funds, %d net values, %d estimates in %s" % (len(fund_lines), len(nav_lines) - 1, len(est_lines), out_dir))


if __name__ == "__main__":
    main()
