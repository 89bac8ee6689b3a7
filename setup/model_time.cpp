#include "setup/model_time.h"

void NormaliseModelDate(ModelDate& date) {
    if (date.year <= 999) date.year += 1900;
    if (date.month < 1) date.month = 1;
    if (date.month > 12) date.month = 12;
    const int length = DaysInMonth(date.year, date.month);
    if (date.day < 1) date.day = 1;
    if (date.day > length) date.day = length;
}
