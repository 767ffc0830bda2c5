// The fields of the Kel `system` object that runtime modules read: the
// currency list of money! and its money-digits option, and the month names
// of date!. The object is the value of the global word `system`, which the
// boot environment builds;
// before it exists, or where a field is missing, the answer is none.
// Fields are read afresh on every call, so a script that changes them is
// followed at once.
#pragma once

#include "runtime/cell.hpp"

namespace kel::system_object {

// Makes the symbols of the field names (start-up): reading a field never
// allocates.
void init();

// system/locale/currencies/list.
Cell currency_list();
// system/options/money-digits.
Cell money_digits();
// system/locale/months.
Cell months();

}  // namespace kel::system_object
