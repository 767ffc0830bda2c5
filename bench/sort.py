x = 1
b = []
for i in range(200000):
    x = (x * 75 + 74) % 65537
    b.append(x)
b.sort()
print(b[0], b[-1], b[99999])
