# 1,000 objects with ten callbacks each on their property a (10,000
# relations); every object's a is set 20 times, each change running its ten
# callbacks.
total = 0


class Reactor:
    def __init__(self):
        self._a = 0
        self.callbacks = []

    @property
    def a(self):
        return self._a

    @a.setter
    def a(self, value):
        self._a = value
        for callback in self.callbacks:
            callback(self)


def reaction(r):
    global total
    total += r.a


reactors = []
for i in range(1000):
    r = Reactor()
    r.callbacks.extend([reaction] * 10)
    reactors.append(r)
for k in range(1, 21):
    for r in reactors:
        r.a = k
print(len(reactors) * 10 * 4, total)
