from datetime import datetime, timedelta

MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]


def text(d):
    return "%d-%s-%04d/%d:%02d:%02d" % (d.day, MONTHS[d.month - 1], d.year, d.hour, d.minute, d.second)


d = datetime(2000, 1, 1)
day, second = timedelta(days=1), timedelta(seconds=1)
for i in range(2000000):
    d = d + day
    d = d + second
print(text(d))
x, y = 1, 7
b = []
base = datetime(2000, 1, 1)
for i in range(1000000):
    x = (x * 75 + 74) % 65537
    y = (y * 69069 + 1) % 86400
    b.append(base + timedelta(days=x) + timedelta(seconds=y))
b.sort()
print(text(b[0]), text(b[-1]), text(b[499999]))
