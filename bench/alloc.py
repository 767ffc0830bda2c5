b = []
for i in range(1, 2000001):
    b.append(bytearray())
print(len(b), len(b[-1]))
