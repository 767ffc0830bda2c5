parts = []
for i in range(1, 300001):
    parts.append("ab")
    parts.append(str(i))
print(len("".join(parts)))
