#include "data/errors.h"

namespace korw::data {

bool Enter(const char* name) {
    ErrorFree = true;
    ProcedureName = name;
    if (!Active) {
        ReportError("Korbelin not active");
        return false;
    }
    return true;
}

void ReportError(std::string message) {
    ErrorMessage = std::move(message);
    ErrorFree = false;
}

void RaiseFault(FaultKind kind) {
    throw Fault(kind);
}

int32_t CheckedAdd(int32_t a, int32_t b) {
    int32_t r;
    if (__builtin_add_overflow(a, b, &r)) RaiseFault(FaultKind::IntOverflow);
    return r;
}

int32_t CheckedSub(int32_t a, int32_t b) {
    int32_t r;
    if (__builtin_sub_overflow(a, b, &r)) RaiseFault(FaultKind::IntOverflow);
    return r;
}

int32_t CheckedMul(int32_t a, int32_t b) {
    int32_t r;
    if (__builtin_mul_overflow(a, b, &r)) RaiseFault(FaultKind::IntOverflow);
    return r;
}

int32_t CheckedDiv(int32_t a, int32_t b) {
    if (b == 0) RaiseFault(FaultKind::IntDivideByZero);
    if (a == INT32_MIN && b == -1) RaiseFault(FaultKind::IntOverflow);
    return a / b;
}

}  // namespace korw::data
