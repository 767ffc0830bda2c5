def f(a, b):
    t = a + b
    u = t - a
    return u + t - b
s = 0
for i in range(1000000):
    s = f(s, 1)
print(s)
