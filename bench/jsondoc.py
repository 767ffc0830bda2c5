import json

# A 20 MB document of 190,000 records, read with json.loads and written back
# with json.dumps; what is written is the text read.
parts = ["["]
for i in range(1, 190001):
    if i > 1:
        parts.append(",")
    parts.append('{"id":%d,"name":"item %d","tags":["a","b\\\\c","é"],"value":%d'
                 ',"ok":true,"note":"line\\ntwo \\"q\\"","none":null}' % (i, i, i * 3))
parts.append("]")
text = "".join(parts)
data = json.loads(text)
out = json.dumps(data, ensure_ascii=False, separators=(",", ":"))
print(len(text), len(data), len(out), "true" if out == text else "false")
