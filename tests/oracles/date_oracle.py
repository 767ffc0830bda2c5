#!/usr/bin/env python3
"""Outside answers for the calendar of date!, from datetime and calendar.

Day counts start at 1 March of year 0: a day's count is toordinal() + 305.
Dates are written the way Kel writes them: D-Mon-YYYY[/H:MM:SS[+HH:MM]].

  date_oracle.py months
      One line per month of years 1-9999: year, month, the day count of its
      first day, its length in days.
  date_oracle.py fields
      One line per day of 1900-2100: day count, isoweekday, day of the
      year, ISO week, Sunday-based week (week 1 holds 1 January).
  date_oracle.py epoch SEED COUNT
      One line per case: n, the UTC date of n seconds after the epoch, a
      tab, a UTC date and its seconds after the epoch (calendar.timegm).
      A few of the first lines are checked against GNU date first.
  date_oracle.py zones SEED COUNT
      One line per case, tab-separated: a date with a zone, a number of
      seconds, the date plus those seconds; then a second zone in minutes,
      the date with that zone on the same wall clock, and at the same
      instant.
  date_oracle.py sort SEED COUNT
      Two lines: dates in several zones, then the same sorted by instant.
"""
import calendar
import random
import subprocess
import sys
from datetime import date, datetime, timedelta, timezone

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
ZONES = [(5, 45), (-3, -30), (14, 0), (0, 0), (-12, 0), (9, 30), (-5, 0)]


def zone_text(minutes):
    if minutes == 0:
        return ""
    sign = "-" if minutes < 0 else "+"
    return "%s%02d:%02d" % (sign, abs(minutes) // 60, abs(minutes) % 60)


def kel_text(dt):
    """The Kel text of an aware datetime, on its own wall clock."""
    off = int(dt.utcoffset().total_seconds()) // 60
    return "%d-%s-%04d/%d:%02d:%02d%s" % (dt.day, MONTHS[dt.month - 1], dt.year, dt.hour, dt.minute,
                                          dt.second, zone_text(off))


def tz(hm):
    return timezone(timedelta(hours=hm[0], minutes=hm[1]))


def months():
    for y in range(1, 10000):
        for m in range(1, 13):
            print(y, m, date(y, m, 1).toordinal() + 305, calendar.monthrange(y, m)[1])


def fields():
    d, end = date(1900, 1, 1), date(2100, 12, 31)
    while d <= end:
        jan1 = date(d.year, 1, 1)
        week = int(d.strftime("%U")) + (0 if jan1.isoweekday() == 7 else 1)
        print(d.toordinal() + 305, d.isoweekday(), d.timetuple().tm_yday, d.isocalendar()[1], week)
        d += timedelta(days=1)


def epoch(rng, count):
    cases = [0, -1, 86399, 86400, -86400, 2**31 - 1, -2**31, 951782400, -62135596800 // 100000]
    while len(cases) < count:
        cases.append(rng.randint(-2**31, 2**31 - 1))
    for n in cases[:4]:
        gnu = subprocess.run(["date", "-u", "-d", "@%d" % n, "+%Y %m %d %H %M %S"], capture_output=True,
                             text=True).stdout.split()
        mine = datetime.fromtimestamp(n, timezone.utc).strftime("%Y %m %d %H %M %S").split()
        if gnu and [int(x) for x in gnu] != [int(x) for x in mine]:
            sys.exit("GNU date and datetime disagree on %d" % n)
    for n in cases:
        t = datetime.fromtimestamp(n, timezone.utc)
        u = datetime(rng.randint(1902, 2037), rng.randint(1, 12), rng.randint(1, 28), rng.randint(0, 23),
                     rng.randint(0, 59), rng.randint(0, 59), tzinfo=timezone.utc)
        print("%d\t%s\t%s\t%d" % (n, kel_text(t), kel_text(u), calendar.timegm(u.utctimetuple())))


def random_aware(rng):
    z = tz(rng.choice(ZONES))
    base = datetime(rng.randint(2, 9997), rng.randint(1, 12), rng.randint(1, 28), tzinfo=timezone.utc)
    # Near midnight, where the carries happen.
    return (base + timedelta(seconds=rng.choice([rng.randint(0, 86399), rng.randint(-7200, 7200)]))).astimezone(z)


def zones(rng, count):
    for _ in range(count):
        d = random_aware(rng)
        delta = rng.randint(-3 * 86400, 3 * 86400)
        z2 = tz(rng.choice(ZONES))
        print("\t".join([kel_text(d), str(delta), kel_text(d + timedelta(seconds=delta)),
                         str(int(z2.utcoffset(None).total_seconds()) // 60),
                         kel_text(d.replace(tzinfo=z2)), kel_text(d.astimezone(z2))]))


def sort(rng, count):
    seen, values = set(), []
    while len(values) < count:
        d = random_aware(rng)
        if d.timestamp() not in seen:
            seen.add(d.timestamp())
            values.append(d)
    print(" ".join(kel_text(d) for d in values))
    print(" ".join(kel_text(d) for d in sorted(values)))


def main():
    mode = sys.argv[1]
    if mode == "months":
        months()
    elif mode == "fields":
        fields()
    else:
        rng = random.Random(int(sys.argv[2]))
        {"epoch": epoch, "zones": zones, "sort": sort}[mode](rng, int(sys.argv[3]))


main()
