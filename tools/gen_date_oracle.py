#!/usr/bin/env python3
"""Writes tests/data/date_oracle.tsv: date! calendar and arithmetic cases
computed with Python's datetime, for the date! unit tests.

Rows (tab-separated, first field the kind):
  cal    Y M D                weekday yearday isoweek week leap
  addd   Y M D                days  mold            (date without time + days)
  add    SPEC                 days secs mold        (date with time + days + secs)
  diff   SPEC1 SPEC2          days secs cmp         (whole days rounded down,
                                                     seconds between instants,
                                                     order by local date, then
                                                     by stored time)
  epoch  SPEC                 seconds | LIMIT
  tz     SPEC                 zone2 mold            (timezone: instant kept)
  zone   SPEC                 zone2 mold            (zone: local time kept)
  todate secs                 mold
  norm   D M Y                make-mold | BAD  to-mold
SPEC is "Y M D h mi s zone" with the zone in minutes east of UTC; mold is
the expected text form. Run from the repository root:
  python3 tools/gen_date_oracle.py
"""
import calendar
import datetime as dt
import os
import random

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
ZONE_LIMIT = 15 * 60 + 45  # minutes the packed date word holds


def tz(minutes):
    return dt.timezone(dt.timedelta(minutes=minutes))


def year_text(y):
    return str(y) if y > 99 else "%04d" % y


def mold_date(d):
    return "%d-%s-%s" % (d.day, MONTHS[d.month - 1], year_text(d.year))


def mold_datetime(t, zone):
    text = mold_date(t) + "/%d:%02d:%02d" % (t.hour, t.minute, t.second)
    if zone != 0:
        sign = "-" if zone < 0 else "+"
        z = abs(zone)
        text += "%s%02d:%02d" % (sign, z // 60, z % 60)
    return text


def spec_text(t, zone):
    return "%d %d %d %d %d %d %d" % (t.year, t.month, t.day, t.hour, t.minute, t.second, zone)


def sunday_week(d):
    """Week number with weeks starting on Sunday; the week holding
    1 January is week 1."""
    jan1 = dt.date(d.year, 1, 1)
    days_since_sunday = (jan1.weekday() + 1) % 7  # of 1 January
    return ((d - jan1).days + days_since_sunday) // 7 + 1


def ordering(t1, z1, t2, z2):
    """How date! orders two dates: by local calendar date first, then by
    the stored time (the local time of day less the zone). Within one local
    date that is the order of the instants; across dates it is not."""
    def key(t, zone):
        local = t.hour * 3600 + t.minute * 60 + t.second
        return (t.date(), local - zone * 60)
    k1, k2 = key(t1, z1), key(t2, z2)
    return (k1 > k2) - (k1 < k2)


def random_date(rng):
    kind = rng.random()
    if kind < 0.3:
        # Month and year edges, leap days.
        y = rng.choice([1, 4, 99, 100, 1600, 1700, 1900, 1999, 2000, 2001, 2004, 2020,
                        2021, 2023, 2024, 2100, 2400, 9998])
        m = rng.choice([1, 2, 3, 12])
        last = calendar.monthrange(y, m)[1]
        day = rng.choice([1, 2, 28, last])
        return dt.date(y, m, min(day, last))
    y = rng.randint(1, 9998)
    m = rng.randint(1, 12)
    return dt.date(y, m, rng.randint(1, calendar.monthrange(y, m)[1]))


def random_zone(rng):
    if rng.random() < 0.3:
        return 0
    return rng.randint(-ZONE_LIMIT // 15, ZONE_LIMIT // 15) * 15


def random_datetime(rng):
    d = random_date(rng)
    zone = random_zone(rng)
    t = dt.datetime(d.year, d.month, d.day, rng.randint(0, 23), rng.randint(0, 59),
                    rng.randint(0, 59), tzinfo=tz(zone))
    return t, zone


def main():
    rng = random.Random(20240229)
    rows = []

    for _ in range(600):
        d = random_date(rng)
        iso = d.isocalendar()
        rows.append(["cal", d.year, d.month, d.day, d.isoweekday(), d.timetuple().tm_yday,
                     iso[1], sunday_week(d), int(calendar.isleap(d.year))])

    for _ in range(300):
        d = random_date(rng)
        days = rng.choice([1, -1, 365, -365, 366, 1000, -1000, rng.randint(-800000, 800000)])
        try:
            r = d + dt.timedelta(days=days)
        except OverflowError:
            continue
        rows.append(["addd", d.year, d.month, d.day, days, mold_date(r)])

    for _ in range(600):
        t, zone = random_datetime(rng)
        days = rng.randint(-4000, 4000) if rng.random() < 0.7 else 0
        secs = rng.choice([0, 1, -1, 3600, -3600, 86399, -86400, 90000,
                           rng.randint(-10 ** 7, 10 ** 7)])
        try:
            r = t + dt.timedelta(days=days, seconds=secs)
        except OverflowError:
            continue
        if not 1 <= r.year <= 9999:
            continue
        rows.append(["add", spec_text(t, zone), days, secs, mold_datetime(r, zone)])

    for _ in range(600):
        t1, z1 = random_datetime(rng)
        if rng.random() < 0.3:
            # The same instant in another zone, or a few seconds apart.
            z2 = random_zone(rng)
            t2 = (t1 + dt.timedelta(seconds=rng.choice([0, 0, 1, -1, 59]))).astimezone(tz(z2))
        elif rng.random() < 0.5:
            z2 = random_zone(rng)
            t2 = (t1 + dt.timedelta(seconds=rng.randint(-200000, 200000))).astimezone(tz(z2))
        else:
            t2, z2 = random_datetime(rng)
        if not 1 <= t2.year <= 9999:
            continue
        delta = t1 - t2
        secs = int(delta.total_seconds())
        cmp = ordering(t1, z1, t2, z2)
        rows.append(["diff", spec_text(t1, z1), spec_text(t2, z2), delta.days, secs, cmp])

    epoch = dt.datetime(1970, 1, 1, tzinfo=dt.timezone.utc)
    for _ in range(200):
        if rng.random() < 0.7:
            d = dt.date(rng.randint(1901, 2038), rng.randint(1, 12), rng.randint(1, 28))
        else:
            d = random_date(rng)
        zone = random_zone(rng)
        t = dt.datetime(d.year, d.month, d.day, rng.randint(0, 23), rng.randint(0, 59),
                        rng.randint(0, 59), tzinfo=tz(zone))
        s = int((t - epoch).total_seconds())
        rows.append(["epoch", spec_text(t, zone),
                     s if -2 ** 31 <= s <= 2 ** 31 - 1 else "LIMIT"])

    for _ in range(300):
        t, zone = random_datetime(rng)
        z2 = random_zone(rng)
        moved = t.astimezone(tz(z2))
        if 1 <= moved.year <= 9999:
            rows.append(["tz", spec_text(t, zone), z2, mold_datetime(moved, z2)])
        kept = t.replace(tzinfo=tz(z2))
        rows.append(["zone", spec_text(t, zone), z2, mold_datetime(kept, z2)])

    for s in [0, 1, -1, 59, 86399, 86400, -86400, -86401, 951782400, 2 ** 31 - 1, -2 ** 31] + \
            [rng.randint(-2 ** 31, 2 ** 31 - 1) for _ in range(100)]:
        t = epoch + dt.timedelta(seconds=s)
        rows.append(["todate", s, mold_datetime(t, 0)])

    for _ in range(200):
        y = rng.choice([1900, 2000, 2023, 2024, rng.randint(100, 9000)])
        m = rng.randint(0, 14)
        d = rng.choice([0, 1, 28, 29, 30, 31, 32, rng.randint(1, 60)])
        yy, mm = y + (m - 1) // 12, (m - 1) % 12 + 1
        rolled = dt.date(yy, mm, 1) + dt.timedelta(days=d - 1)
        valid = 1 <= m <= 12 and 1 <= d <= calendar.monthrange(y, m)[1]
        rows.append(["norm", d, m, y, mold_date(rolled) if valid else "BAD", mold_date(rolled)])

    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = os.path.join(root, "tests", "data", "date_oracle.tsv")
    with open(out, "w") as f:
        f.write("# Generated by tools/gen_date_oracle.py; do not edit.\n")
        for r in rows:
            f.write("\t".join(str(x) for x in r) + "\n")
    print("wrote %d rows to %s" % (len(rows), out))


if __name__ == "__main__":
    main()
