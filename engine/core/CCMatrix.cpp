#include "core/CCMatrix.h"

#include "core/CCPointExtension.h"
#include "platform/Exception.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

// ---- Matrices ----

kmMat4* mat4Identity(kmMat4* out) {
    std::memset(out->mat, 0, sizeof(out->mat));
    out->mat[0] = out->mat[5] = out->mat[10] = out->mat[15] = 1.0f;
    return out;
}

kmMat4* mat4Assign(kmMat4* out, const kmMat4* in) {
    if (out != in) std::memcpy(out->mat, in->mat, sizeof(out->mat));
    return out;
}

kmMat4* mat4Multiply(kmMat4* out, const kmMat4* a, const kmMat4* b) {
    float m[16];
    const float* m1 = a->mat;
    const float* m2 = b->mat;
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r) {
            m[c * 4 + r] = m1[r] * m2[c * 4] + m1[4 + r] * m2[c * 4 + 1] + m1[8 + r] * m2[c * 4 + 2] +
                           m1[12 + r] * m2[c * 4 + 3];
        }
    }
    std::memcpy(out->mat, m, sizeof(m));
    return out;
}

kmMat4* mat4Translation(kmMat4* out, float x, float y, float z) {
    mat4Identity(out);
    out->mat[12] = x;
    out->mat[13] = y;
    out->mat[14] = z;
    return out;
}

namespace {
// Row r, column c of a column-major matrix.
float& at(kmMat4* m, int r, int c) {
    return m->mat[c * 4 + r];
}
} // namespace

bool mat4GaussJordan(kmMat4* a, kmMat4* b) {
    int pivotRows[4], pivotColumns[4];
    bool columnUsed[4] = {false, false, false, false};
    int row = 0, column = 0;
    for (int pass = 0; pass < 4; ++pass) {
        // The largest element among the unused rows and columns; ties go to the later one.
        float largest = 0.0f;
        for (int r = 0; r < 4; ++r) {
            if (columnUsed[r]) continue; // a used column's pivot row is used too
            for (int c = 0; c < 4; ++c) {
                if (columnUsed[c]) continue;
                if (std::fabs(at(a, r, c)) >= largest) {
                    largest = std::fabs(at(a, r, c));
                    row = r;
                    column = c;
                }
            }
        }
        columnUsed[column] = true;
        // Bring the pivot onto the diagonal.
        if (row != column) {
            for (int c = 0; c < 4; ++c) {
                std::swap(at(a, row, c), at(a, column, c));
                std::swap(at(b, row, c), at(b, column, c));
            }
        }
        pivotRows[pass] = row;
        pivotColumns[pass] = column;
        if (at(a, column, column) == 0.0f) return false;
        const float inversePivot = 1.0f / at(a, column, column);
        at(a, column, column) = 1.0f;
        for (int c = 0; c < 4; ++c) {
            at(a, column, c) *= inversePivot;
            at(b, column, c) *= inversePivot;
        }
        for (int other = 0; other < 4; ++other) {
            if (other == column) continue;
            const float factor = at(a, other, column);
            at(a, other, column) = 0.0f;
            for (int c = 0; c < 4; ++c) {
                at(a, other, c) -= at(a, column, c) * factor;
                at(b, other, c) -= at(b, column, c) * factor;
            }
        }
    }
    // The row swaps above permuted the inverse's columns: swap them back, last swap first.
    for (int pass = 3; pass >= 0; --pass) {
        if (pivotRows[pass] == pivotColumns[pass]) continue;
        for (int r = 0; r < 4; ++r)
            std::swap(at(a, r, pivotRows[pass]), at(a, r, pivotColumns[pass]));
    }
    return true;
}

kmMat4* mat4Inverse(kmMat4* out, const kmMat4* in) {
    kmMat4 inv;
    kmMat4 tmp;
    mat4Assign(&inv, in);
    mat4Identity(&tmp);
    if (!mat4GaussJordan(&inv, &tmp)) return nullptr;
    return mat4Assign(out, &inv);
}

kmMat4* mat4Perspective(kmMat4* out, float fovY, float aspect, float zNear, float zFar) {
    const float r = degreesToRadians(fovY / 2);
    const float deltaZ = zFar - zNear;
    const double s = std::sin(static_cast<double>(r));
    if (deltaZ == 0.0f || s == 0.0 || aspect == 0.0f) return nullptr;
    const double cotangent = std::cos(static_cast<double>(r)) / s;
    mat4Identity(out);
    out->mat[0] = static_cast<float>(cotangent / aspect);
    out->mat[5] = static_cast<float>(cotangent);
    out->mat[10] = -(zFar + zNear) / deltaZ;
    out->mat[11] = -1.0f;
    out->mat[14] = -2.0f * zNear * zFar / deltaZ;
    out->mat[15] = 0.0f;
    return out;
}

kmMat4* mat4Orthographic(kmMat4* out, float left, float right, float bottom, float top, float nearVal,
                         float farVal) {
    const float tx = -((right + left) / (right - left));
    const float ty = -((top + bottom) / (top - bottom));
    const float tz = -((farVal + nearVal) / (farVal - nearVal));
    mat4Identity(out);
    out->mat[0] = 2 / (right - left);
    out->mat[5] = 2 / (top - bottom);
    out->mat[10] = -2 / (farVal - nearVal);
    out->mat[12] = tx;
    out->mat[13] = ty;
    out->mat[14] = tz;
    return out;
}

kmMat4* mat4LookAt(kmMat4* out, const kmVec3* eye, const kmVec3* center, const kmVec3* up) {
    kmVec3 f, up0, s, u;
    vec3Subtract(&f, center, eye);
    vec3Normalize(&f, &f);
    vec3Assign(&up0, up);
    vec3Normalize(&up0, &up0);
    vec3Cross(&s, &f, &up0);
    vec3Normalize(&s, &s);
    vec3Cross(&u, &s, &f);

    kmMat4 rotation;
    mat4Identity(&rotation);
    rotation.mat[0] = s.x;
    rotation.mat[4] = s.y;
    rotation.mat[8] = s.z;
    rotation.mat[1] = u.x;
    rotation.mat[5] = u.y;
    rotation.mat[9] = u.z;
    rotation.mat[2] = -f.x;
    rotation.mat[6] = -f.y;
    rotation.mat[10] = -f.z;

    kmMat4 translation;
    mat4Translation(&translation, -eye->x, -eye->y, -eye->z);
    return mat4Multiply(out, &rotation, &translation);
}

// ---- One matrix stack ----

namespace {
constexpr std::uint32_t kInitialStackSize = 30;
constexpr std::uint32_t kStackIncrement = 50;

void growStack(kmMat4Stack* stack) {
    const std::uint32_t capacity = stack->capacity + kStackIncrement;
    auto* slots = new kmMat4[capacity];
    if (stack->itemCount > 0) std::memcpy(slots, stack->slots, sizeof(kmMat4) * stack->itemCount);
    delete[] stack->slots;
    stack->slots = slots;
    stack->capacity = capacity;
    stack->top = stack->itemCount > 0 ? &slots[stack->itemCount - 1] : nullptr;
}
} // namespace

void matrixStackInit(kmMat4Stack* stack) {
    delete[] stack->slots;
    stack->slots = new kmMat4[kInitialStackSize];
    stack->capacity = kInitialStackSize;
    stack->itemCount = 0;
    stack->top = nullptr;
}

void matrixStackPush(kmMat4Stack* stack, const kmMat4* item) {
    // Only a released (or never initialised) stack is full before the push.
    if (static_cast<std::uint32_t>(stack->itemCount) >= stack->capacity) growStack(stack);
    stack->top = &stack->slots[stack->itemCount];
    mat4Assign(stack->top, item);
    stack->itemCount++;
    if (static_cast<std::uint32_t>(stack->itemCount) >= stack->capacity) growStack(stack);
}

void matrixStackPop(kmMat4Stack* stack) {
    CCAssert(stack->itemCount > 0, "matrixStackPop: the matrix stack is empty");
    stack->itemCount--;
    stack->top = stack->itemCount > 0 ? &stack->slots[stack->itemCount - 1] : nullptr;
}

void matrixStackRelease(kmMat4Stack* stack) {
    delete[] stack->slots;
    stack->slots = nullptr;
    stack->top = nullptr;
    stack->capacity = 0;
    stack->itemCount = 0;
}

// ---- The process-wide stacks ----

namespace {
kmMat4Stack modelviewStack;
kmMat4Stack projectionStack;
kmMat4Stack textureStack;
kmMat4Stack* currentStack = nullptr;
bool stacksInitialized = false;
kmCaptureModelView captureModelView;

kmMat4Stack* stackForMode(std::uint32_t mode) {
    switch (mode) {
    case kCCMatrixModeModelView:
        return &modelviewStack;
    case kCCMatrixModeProjection:
        return &projectionStack;
    case kCCMatrixModeTexture:
        return &textureStack;
    default:
        return nullptr;
    }
}
} // namespace

void matrixStacksInit() {
    if (stacksInitialized) return;
    kmMat4 identity;
    mat4Identity(&identity);
    for (kmMat4Stack* stack : {&modelviewStack, &projectionStack, &textureStack}) {
        matrixStackInit(stack);
        matrixStackPush(stack, &identity);
    }
    currentStack = &modelviewStack;
    stacksInitialized = true;
}

void matrixMode(std::uint32_t mode) {
    matrixStacksInit();
    if (kmMat4Stack* stack = stackForMode(mode)) currentStack = stack;
}

void matrixPush() {
    matrixStacksInit();
    // The push copies before it may grow the slots, so pushing the top itself is safe.
    matrixStackPush(currentStack, currentStack->top);
}

void matrixPop() {
    CCAssert(currentStack != nullptr, "matrixPop: the matrix stacks do not exist yet");
    CCAssert(currentStack->itemCount > 1, "matrixPop: pops must balance pushes; the bottom matrix stays");
    matrixStackPop(currentStack);
}

void matrixLoadIdentity() {
    matrixStacksInit();
    mat4Identity(currentStack->top);
}

void matrixMultiply(const kmMat4* matrix) {
    matrixStacksInit();
    mat4Multiply(currentStack->top, currentStack->top, matrix);
}

void matrixTranslate(float x, float y, float z) {
    CCAssert(currentStack != nullptr, "matrixTranslate: the matrix stacks do not exist yet");
    kmMat4 translation;
    mat4Translation(&translation, x, y, z);
    mat4Multiply(currentStack->top, currentStack->top, &translation);
}

void matrixGet(std::uint32_t mode, kmMat4* out) {
    matrixStacksInit();
    if (kmMat4Stack* stack = stackForMode(mode)) mat4Assign(out, stack->top);
}

void matrixFreeAll() {
    matrixStackRelease(&modelviewStack);
    matrixStackRelease(&projectionStack);
    matrixStackRelease(&textureStack);
    stacksInitialized = false;
    captureModelView = kmCaptureModelView{};
    currentStack = nullptr;
}

kmCaptureModelView& matrixCaptureModelView() {
    return captureModelView;
}

void affineToGLMatrix(const CGAffineTransform& t, float* m) {
    std::fill(m, m + 16, 0.0f);
    m[0] = static_cast<float>(t.a);
    m[1] = static_cast<float>(t.b);
    m[4] = static_cast<float>(t.c);
    m[5] = static_cast<float>(t.d);
    m[12] = static_cast<float>(t.tx);
    m[13] = static_cast<float>(t.ty);
    m[10] = 1.0f;
    m[15] = 1.0f;
}

// ---- Vectors ----

kmVec3* vec3Fill(kmVec3* out, float x, float y, float z) {
    out->x = x;
    out->y = y;
    out->z = z;
    return out;
}

float vec3Length(const kmVec3* v) {
    return std::sqrt(squareFloat(v->x) + squareFloat(v->y) + squareFloat(v->z));
}

kmVec3* vec3Normalize(kmVec3* out, const kmVec3* v) {
    const float length = vec3Length(v);
    if (length == 0.0f) return vec3Fill(out, 0.0f, 0.0f, 0.0f);
    const float l = 1.0f / length;
    return vec3Fill(out, v->x * l, v->y * l, v->z * l);
}

kmVec3* vec3Cross(kmVec3* out, const kmVec3* a, const kmVec3* b) {
    return vec3Fill(out, a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x);
}

kmVec3* vec3Subtract(kmVec3* out, const kmVec3* a, const kmVec3* b) {
    return vec3Fill(out, a->x - b->x, a->y - b->y, a->z - b->z);
}

kmVec3* vec3TransformCoord(kmVec3* out, const kmVec3* v, const kmMat4* m) {
    kmVec4 in, r;
    vec4Fill(&in, v->x, v->y, v->z, 1.0f);
    vec4MultiplyMat4(&r, &in, m);
    return vec3Fill(out, r.x / r.w, r.y / r.w, r.z / r.w);
}

kmVec3* vec3Assign(kmVec3* out, const kmVec3* in) {
    if (out != in) *out = *in;
    return out;
}

kmVec4* vec4Fill(kmVec4* out, float x, float y, float z, float w) {
    out->x = x;
    out->y = y;
    out->z = z;
    out->w = w;
    return out;
}

kmVec4* vec4MultiplyMat4(kmVec4* out, const kmVec4* v, const kmMat4* m) {
    const float* e = m->mat;
    kmVec4 r;
    r.x = v->x * e[0] + v->y * e[4] + v->z * e[8] + v->w * e[12];
    r.y = v->x * e[1] + v->y * e[5] + v->z * e[9] + v->w * e[13];
    r.z = v->x * e[2] + v->y * e[6] + v->z * e[10] + v->w * e[14];
    r.w = v->x * e[3] + v->y * e[7] + v->z * e[11] + v->w * e[15];
    *out = r;
    return out;
}
