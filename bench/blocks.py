b = []
for i in range(1, 1000001):
    b.append(i)
s = 0
for x in b:
    if x > 500000:
        s = s + 1
print(len(b), s)
