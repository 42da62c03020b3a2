#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into tests/fuzz/corpus/<target>/.

The seeds look like what the data server and users really send: GBK text, CR LF
and LF line ends, names whose second byte is "|" (0x7C), apostrophes, and the
broken answers the program meets (error pages, cut-off files). Run it again
after changing it; the files are kept in the repository.
"""
import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SAMPLE = os.path.join(ROOT, "server", "sample-data")


def gbk(text):
    return text.encode("gbk")


def lines(items, end=b"\r\n"):
    return b"".join(i + end for i in items)


def sample(name, count):
    with open(os.path.join(SAMPLE, name), "rb") as f:
        return f.read().replace(b"\r\n", b"\n").split(b"\n")[:count]


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def control_file():
    good = lines([b"[FU]", b"listTime=1226543552", b"stkTime=1226662200", b"estTime=1226673900", b"[VER]",
                  b"LastVer=12", b"UpdateVer=12", b"UpdateFu=0"])
    return {
        "reference-crlf.ini": good,
        "reference-lf.ini": good.replace(b"\r\n", b"\n"),
        "update-offered.ini": lines([b"[fu]", b" LISTTIME = 1300000000 ", b"stkTime=12abc", b"estTime=-7",
                                     b"[Ver]", b"lastver=13", b"UpdateVer=13", b"UpdateFu=1",
                                     b"UpdatePath=http://127.0.0.1:8419/update/Zeza",
                                     b"UpdateSha256=" + b"0123456789abcdef" * 4]),
        "gbk-comments.ini": lines([gbk("; 数据时间（秒）"), b"[FU]", b"listTime=99999999999",
                                   gbk("stkTime=一二三"), b"[FU]", b"estTime=5", b"[VER]", b"UpdatePath=" + gbk("升级|亅") * 40]),
        "no-feed-section.ini": lines([b"[VER]", b"LastVer=13", b"UpdateFu=1", b"UpdateVer=13"]),
        "error-page.html": gbk("<html><head><title>502 Bad Gateway</title></head><body>网关错误</body></html>\n"),
        "cut-off.ini": b"[FU]\r\nlistTime=12265",
        "quoted-values.ini": lines([b"[FU]", b'listTime="1300000000"', b"stkTime='1300000100'", b'estTime="5',
                                    b"[VER]", b'UpdatePath=" http://127.0.0.1:8419/update/Zeza-13 "']),
    }


def fund_list():
    funds = [b"|".join(l.split(b"|")[:3]) for l in sample("funds.txt", 40) if l]
    odd = [
        gbk("000001|华夏成长|gu"),
        gbk("519005|海富通股票|gu"),
        gbk("700001|亅億東瑋基金|zhai"),          # names whose second bytes are 0x7C
        gbk("700002|O'Neil成长|hun"),
        gbk("700003|gushi|zhi"),                  # a name that starts like a type code
        gbk("700004|新基金|qdii"),                 # a type code outside the table
        gbk("700005|a|b|c"),                      # four fields
        b"000001|abc",                            # too short
        gbk("700006|重复|gu"), gbk("700006|重复二|hun"),  # the same code twice
        b"'); DROP TABLE fu_count;--|x|gu",
    ]
    return {
        "sample-crlf.txt": lines(funds),
        "sample-lf.txt": lines(funds, b"\n"),
        "awkward-lines.txt": lines(odd),
        "no-final-line-end.txt": lines(odd[:3]).rstrip(b"\r\n"),
        "error-page.html": b"<html>\n<body>Service Unavailable</body>\n</html>\n",
        "error-page-one-line.html": b"<html><body>Service down | retry later | sorry</body></html>",
        "byte-order-mark.txt": b"\xEF\xBB\xBF" + lines(funds[:3]),
    }


def net_values():
    navs = [l for l in sample("navs.txt", 40) if l]
    odd = [
        b"2008-11-17",
        b"000001|3.1200|1.0560|1.0610",
        b"000011|2.98|1.234|1.23|9.9",           # five fields
        b"000021|1|1",                           # too short
        b"000031|1|1|1",
        b"000041|1.0'|2|3",                      # an apostrophe in a value
        gbk("亅億東|1.5|1.5|1.5"),
        b"519005|-0.5|+1.25|12345678901234567890",
    ]
    return {
        "sample-crlf.txt": lines(navs),
        "sample-lf.txt": lines(navs, b"\n"),
        "awkward-lines.txt": lines(odd),
        "no-date.txt": lines(odd[1:]),
        "error-page.html": gbk("<html>内部错误</html>\n000001|3.1200|1.0560|1.0610\n"),
        "other-date-form.txt": b"\xEF\xBB\xBF 2008/11/14 \r\n" + lines(odd[1:3]),
    }


def estimates():
    ests = [l for l in sample("estimates.txt", 40) if l]
    odd = [
        b"000001|1.0623",
        b"000011,1.2500",                        # another separator byte
        b"000021|1.1",                           # too short
        b"000041|1.0623|x",
        b"00004a|1.0623",
        b"000001|1.0'623",
        gbk("519005亅1.0500"),                   # a double-byte character over the separator
        b"999999|9.9999",
    ]
    return {
        "sample-crlf.txt": lines(ests),
        "sample-lf.txt": lines(ests, b"\n"),
        "awkward-lines.txt": lines(odd),
        "error-page.html": b"<html><body>busy</body></html>",
    }


def accuracy():
    codes = [l.split(b"|")[0] for l in sample("estimates.txt", 30) if l]
    own, public = gbk("自算"), gbk("公开")
    good = [c + b"|" + (public if i % 5 == 0 else own) + b"|" + (b"" if i % 8 == 3 else b"0.%02d" % (10 + i))
            + b"|" + (b"3" if i % 8 == 3 else b"20") for i, c in enumerate(codes)]
    odd = [
        b"000001|" + own + b"|0.31|20",
        b"000011|" + gbk("估算") + b"|0.20|20",  # a source the view does not name
        b"000021|" + own + b"|-0.20|20",          # a negative error
        b"000031|" + own + b"|0.50|4",            # too few days for an error
        b"000041|" + own + b"|0.2|2.5",
        b"000051|" + public + b"|0.12|20|x",
        gbk("000061亅自算|0.10|20"),               # a double-byte character over the separator
        b"000001|" + public + b"|0.12|99999",
    ]
    return {
        "sample-crlf.txt": lines(good),
        "sample-lf.txt": lines(good, b"\n"),
        "awkward-lines.txt": lines(odd),
        "error-page.html": b"<html><body>busy</body></html>",
    }


def holdings():
    header = gbk("代码,成本,份数,备注")
    rows = [
        b"000001,1000,500,test",
        gbk("000011,2500.5,1234.25,长期持有，定投"),
        gbk("110003,1e3,  7 ,it's mine; 亅億"),
        gbk("519005,1000.0,800.0,备注,里有,逗号"),
        b" 000021,1,1,",
        b"000041,abc,1,not a number",
        b"000051,1,1",
        b"",
        b"   ",
    ]
    return {
        "export-crlf.txt": lines([header] + rows),
        "export-lf.txt": lines([header] + rows, b"\n"),
        "no-header.txt": lines(rows[:3]),
        "header-only.txt": lines([header]),
        "apostrophes.txt": lines([header, b"000001,1,1,'); DELETE FROM fu_count;--", b"'000011',2,2,''"]),
    }


def js_reader():
    row = '["000001","华夏成长","HXCZ","1.2340","3.4560","1.2300","3.4520","0.0040","0.33","开放申购"]'
    return {
        "nav-page.js": ('var db={chars:["a","b"],datas:[' + row + ',' + row.replace("000001", "110022") +
                        '],count:["5010","12"],record:"5010",pages:"26",curpage:"2",'
                        'indexsy:[-0.91,-0.80,-1.26,],showday:["2026-08-21","2026-08-20"]};').encode(),
        "nav-page-gbk.js": gbk('var db={datas:[["000002","抃乗基金","","1.0","1.0","","","","","",""]],'
                               "showday:['2026-08-21','2026-08-20']}"),
        "catalogue.js": 'var r = [["000001","HXCZ","华夏成长","混合型","HUAXIACHENGZHANG"],[,],[1,,2,]];'.encode(),
        "json-answer.json": b'{"Datas":[{"FCODE":"110022","NAV":"2.8260","PDATE":"2026-08-20"}],'
                            b'"ErrCode":0,"Success":true,"TotalCount":1,"Expansion":null}',
        "escapes.js": (r'["\n\t\r\b\f\v\0\/\\\'\"","\u4e2d\ud83d\ude00\ud800x\u{1F600}\x41\101",'
                       "'line\\\ncontinued',\"\\xe4\"]").encode(),
        "numbers.js": b"[-1,+1,1e-3,2E+5,.5,-.5,5.,0x1F,-0X10,0b11,0o17,010,NaN,-Infinity,undefined,true,false,null]",
        "keys-comments.js": ("\ufeff/* head */ const x = {$a_1:1, _:2, 中文:3, 'q':4, \"r\":5, 7:6, 0x10:7,"
                             " a:{b:[{c:1}]}, // line\n}; /* tail */").encode(),
        "cut-off.js": b'var db={datas:[["000001","\xe5\x8d',
        "error-page.html": b"<html><body>502 Bad Gateway</body></html>",
    }


def indices():
    good = lines([gbk("sh000001|上证指数|3245.67|0.52|2026-12-07 14:30:00"),
                  gbk("hkHSI|恒生指数|19870.12|-0.31|2026-12-07 14:30:00")])
    return {
        "reference-crlf.txt": good,
        "reference-lf.txt": good.replace(b"\r\n", b"\n"),
        "bad-lines.txt": lines([b"sh000001||0|0|", b"SH000001|x|-5|1|t", gbk("sz399006|创业板指|abc|1|t"),
                                b"|||||", b"sz399001|" + gbk("深证成指") + b"|6843.19|0.92"]),
        "error-page.html": b"<html><body>502 Bad Gateway</body></html>",
    }


def trades():
    head = gbk("基金代码,交易类型,下单时间,金额,份额,费率,转入代码,成本,备注")
    return {
        "demo.csv": lines([head, gbk("000001,买入,2008-07-10 10:30,10000.00,,0.15,,,首次买入"),
                           gbk("000001,卖出,2008-09-22 14:00,,2000.00,0.50,,,部分赎回"),
                           gbk("000021,转换,2008-10-14 10:00,,3000.00,0.10,000031,,转入"),
                           gbk("000011,份额调整,2008-09-08 00:00,,7516.00,,,20000.00,拆分 1.027437")]),
        "export-lf.csv": lines([head + gbk(",状态,确认日期,确认净值,确认份额,确认金额"),
                                gbk("000001,现金分红,2008-10-20 00:00,418.02,,,,,每份派现，0.0300,已确认,2008-10-20,"
                                    "0.7364,0.00,418.02")], b"\n"),
        "bad-lines.csv": lines([gbk("000001,买入,2024-02-30 10:00,1,,,,,"), gbk("00001,卖出,2024-03-01 10:00,,1,,,,"),
                                gbk("000001,转换,2024-03-01 10:00,,1,,000001,,"), gbk("000001,买入,2024-03-01 24:00,1e3,,,,,"),
                                gbk("000001,分红,2024-03-01 10:00,1,,,,,"), b"\xa3,\xa3,\xa3,,,,,,"]),
    }


if __name__ == "__main__":
    write("fuzz_control_file", control_file())
    write("fuzz_fund_list_feed", fund_list())
    write("fuzz_net_value_feed", net_values())
    write("fuzz_estimate_feed", estimates())
    write("fuzz_accuracy_feed", accuracy())
    write("fuzz_holdings_import", holdings())
    write("fuzz_js_reader", js_reader())
    write("fuzz_index_feed", indices())
    write("fuzz_trades_import", trades())
