#!/usr/bin/env python3
"""Writes the sample common directory of a small office (examples/office/).

Return dates are relative to the day the script runs (or --date), so a board
built from the directory that day shows every presence state: present,
client off, away until later today, tomorrow, the day after, next week,
overdue and open-ended absences. Files are Shift-JIS (CP932) with CR LF line
ends, as the clients keep them. Only the files listed here are written;
nothing else in the directory is touched or deleted (the icon files beside
them come from elsewhere).
"""

import argparse
import datetime
import os
import sys

KAVEL_INI = [
    "; Quorwell sample office",
    "QUOR_SiteName=サンプル事務所行き先掲示板",
    "QUOR_Port=8080",
    "UDPMessage,Port=19900",
    "QUOR_Interval,ReloadAllFile=1",
    "CustomIcon,Name=外出,YellowIcon=out_y.ico,RedIcon=out_r.ico",
    "CustomIcon,Name=会議,YellowIcon=mtg_y.ico,RedIcon=mtg_r.ico",
]

# key, reading (half-width katakana), name, group, memo, tel, return
# (days from today or a caption, None when present), time, reason, icon.
PERSONS = [
    ("aoki", "ｱｵｷ", "青木 一郎", "営業部", "内線101", "090-0000-0101", None, "", "", 0),
    ("itou", "ｲﾄｳ", "伊藤 花子", "総務部", "内線201", "", 0, "", "銀行", 1),
    ("endou", "ｴﾝﾄﾞｳ", "遠藤 健", "開発部", "内線301", "", 1, "13:00",
     "客先で打合せ\r\n午後から出社", 1),
    ("katou", "ｶﾄｳ", "加藤 誠", "開発部", "内線302", "", 1, "10:00", "通院", 0),
    ("kimura", "ｷﾑﾗ", "木村 直子", "営業部", "内線102", "", -1, "17:00", "出張(大阪)", 1),
    ("gotou", "ｺﾞﾄｳ", "後藤 正", "経理部", "内線401", "", None, "", "", 0),
    ("satou", "ｻﾄｳ", "佐藤 美咲", "営業部", "内線103", "090-0000-0103", None, "", "", 0),
    ("suzuki", "ｽｽﾞｷ", "鈴木 大輔", "開発部", "内線303", "", 7, "9:00", "研修", 0),
    ("tanaka", "ﾀﾅｶ", "田中 裕子", "総務部", "内線202", "", 2, "", "休暇", 0),
    ("tsuji", "ﾂｼﾞ", "辻 浩二", "開発部", "内線304", "", None, "", "", 0),
    ("nakamura", "ﾅｶﾑﾗ", "中村 恵", "営業部", "内線104", "", "外出", "", "得意先回り", 1),
    ("nishida", "ﾆｼﾀﾞ", "西田 修", "総務部", "内線203 受付当番(月水金)", "", None, "", "", 0),
    ("hayashi", "ﾊﾔｼ", "林 明美", "開発部", "内線305", "", 0, "23:30", "会議室A", 2),
    ("baba", "ﾊﾞﾊﾞ", "馬場 隆", "開発部", "内線306", "", 30, "", "海外出張(シンガポール支社)", 1),
    ("fujita", "ﾌｼﾞﾀ", "藤田 亮", "営業部", "内線105", "", "会議", "", "定例会議", 2),
    ("matsumoto", "ﾏﾂﾓﾄ", "松本 由紀", "総務部", "内線204", "", None, "", "", 0),
    ("miyazaki", "ﾐﾔｻﾞｷ", "宮崎 翔", "開発部", "内線307", "", None, "", "", 0),
    ("mori", "ﾓﾘ", "森 真理", "経理部", "内線402", "", -2, "", "決算説明会", 0),
    ("yamada", "ﾔﾏﾀﾞ", "山田 太郎", "営業部", "内線106", "090-0000-0106", None, "", "", 0),
    ("yuuki", "ﾕｳｷ", "結城 彩", "経理部", "内線403", "", 0, "23:45", "税理士事務所", 1),
    ("yoshida", "ﾖｼﾀﾞ", "吉田 剛", "開発部", "内線308", "", 3, "", "展示会", 1),
    ("ryuuzaki", "ﾘｭｳｻﾞｷ", "竜崎 薫", "総務部", "内線205", "", "不在", "", "", 0),
    ("rokkaku", "ﾛｯｶｸ", "六角 智", "営業部", "内線107", "", None, "", "", 0),
    ("watanabe", "ﾜﾀﾅﾍﾞ", "渡辺 亜希", "営業部", "内線108", "", 0, "", "午前半休", 0),
]

# Clients whose program is not running: marker files beside their person files.
POWERED_OFF = ["tsuji", "matsumoto"]

# Lines the client keeps after the tenth value; the server must preserve them.
EXTRA_LINES = {"miyazaki": ['"Kvl3_Ext=1"', '"予定表:第2週"']}


def quoted(value):
    return '"' + value.replace('"', '""') + '"'


def person_text(index, person, today):
    key, reading, name, group, memo, tel, ret, time, reason, icon = person
    if ret is None:
        date = ""
    elif isinstance(ret, str):
        date = ret
    else:
        day = today + datetime.timedelta(days=ret)
        date = "%04d/%02d/%02d" % (day.year, day.month, day.day)
    ip = "127.0.0.%d" % (index + 1)
    values = [reading, name, group, memo, reason, date, time, tel, ip, str(icon)]
    lines = [quoted(v) for v in values] + EXTRA_LINES.get(key, [])
    return "".join(line + "\r\n" for line in lines)


def message_header(sender, when):
    weekday = "月火水木金土日"[when.weekday()]
    return "○%s(伝言)    送信日時:%s日(%s) %s" % (
        sender, when.strftime("%Y年%m月%d"), weekday, when.strftime("%H時%M分%S秒"))


def mail_files(today):
    noon = datetime.datetime.combine(today, datetime.time(12, 0, 0))
    unread = [
        (message_header("佐藤", noon - datetime.timedelta(hours=2)),
         "14時の打合せは会議室Bに変更です。"),
        (message_header("ゲスト", noon - datetime.timedelta(days=1, hours=3)),
         "見積書の件でお電話ください。\r\n03-0000-0000 鈴木商事"),
    ]
    read = [
        (message_header("田中", noon - datetime.timedelta(days=3)),
         "資料ありがとうございました。"),
    ]

    def text(entries):
        return "".join(head + "\r\n" + body + "\r\n\r\n" for head, body in entries)

    return {"yamada.mil": text(unread), "yamada.old": text(read)}


def build(today):
    """File name -> text of every file the sample directory holds."""
    files = {"kavel.ini": "".join(line + "\r\n" for line in KAVEL_INI)}
    for index, person in enumerate(PERSONS):
        files[person[0] + ".kvl"] = person_text(index, person, today)
    for key in POWERED_OFF:
        files[key + ".off"] = ""
    files.update(mail_files(today))
    return files


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--date", help="day the return dates count from, YYYY-MM-DD "
                        "(default: today)")
    parser.add_argument("--out", default=os.path.join(here, "..", "examples", "office"),
                        help="directory to write (default: examples/office)")
    args = parser.parse_args(argv)
    if args.date:
        try:
            today = datetime.datetime.strptime(args.date, "%Y-%m-%d").date()
        except ValueError:
            parser.error("--date wants YYYY-MM-DD, not %r" % args.date)
    else:
        today = datetime.date.today()

    os.makedirs(args.out, exist_ok=True)
    for name, text in sorted(build(today).items()):
        path = os.path.join(args.out, name)
        data = text.encode("cp932")
        tmp = path + ".new"
        with open(tmp, "wb") as f:
            f.write(data)
        os.replace(tmp, path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
