m = {}
for i in range(1, 200001):
    m[i] = i * 2
    m[str(i)] = i
s = 0
for i in range(1, 200001):
    if m.get(i) == i * 2:
        s = s + 1
for i in range(1, 200001):
    if m.get(str(i)) == i:
        s = s + 1
for i in range(1, 100001):
    m[i] = 0
for i in range(1, 200001):
    if m.get(i) == 0:
        s = s + 1
print(len(m), s)
