class P:
    def __init__(self):
        self.x = 0
        self.y = 0
p = P()
for i in range(1500000):
    p.x = p.x + 1
    p.y = p.x - p.y
print(p.x, p.y)
