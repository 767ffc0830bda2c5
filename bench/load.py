b = list(range(1, 200001))
text = " ".join(str(x) for x in b).encode()
loaded = [int(x) for x in text.decode().split()]
print(len(text), len(loaded), loaded[-1])
