import posixpath
n = 0
for i in range(1, 20001):
    p = posixpath.normpath(f"/usr/local/{i}/../lib/./x{i}.txt")
    n += len(posixpath.split(p)[1])
print(n)
