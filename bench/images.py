# An image as a plain list of (r, g, b, a) pixels; its text as Kel molds it.
width, height = 1000, 1000
img = [(255, 255, 255, 0)] * (width * height)
colours = [(10, 20, 30, 0), (40, 50, 60, 0), (70, 80, 90, 0)]
for n in range(1, width * height + 1):
    img[n - 1] = colours[n % 3]
parts = ["make image! [%dx%d #{\n    " % (width, height)]
count = len(img)
for i, (r, g, b, a) in enumerate(img):
    parts.append("%02X%02X%02X" % (r, g, b))
    if (i + 1) % 10 == 0:
        parts.append("\n" if i + 1 == count else "\n    ")
parts.append("}]")
text = "".join(parts)
first, last = img[0], img[-1]
print(len(text), "%d.%d.%d.%d" % first, "%d.%d.%d.%d" % last)
