n = 0
for i in range(1, 5000001):
    n = n + 3
    if n > 1000:
        n = n - 1000
i = 0
while i < 2000000:
    i = i + 1
    n = n + 1
print(n)
