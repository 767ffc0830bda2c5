from decimal import Decimal, ROUND_DOWN, getcontext

# Money keeps five decimals and cuts products and quotients after them.
getcontext().prec = 50
cut = Decimal('0.00001')
acc = Decimal(0)
price = Decimal('1.23456')
for i in range(1, 500001):
    p = (price * i).quantize(cut, rounding=ROUND_DOWN)
    acc = acc + (p / 7).quantize(cut, rounding=ROUND_DOWN)
whole, cents = divmod(int(acc * 100), 100)
print('$' + format(whole, ',').replace(',', "'") + '.%02d' % cents)
