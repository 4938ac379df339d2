// 4x4 matrices, 3- and 4-vectors, and the three process-wide matrix stacks that stand in for
// the fixed-function stacks OpenGL ES 2.0 does not have. Plain records and C-style functions,
// single precision throughout. Functions that produce a matrix or vector write it through
// their first argument and return it, so calls can nest.
#pragma once

#include "platform/Geometry.h"

#include <cstdint>

// Column-major: the element at column c, row r is mat[c * 4 + r]; translation in 12, 13, 14.
struct kmMat4 {
    float mat[16];
};
struct kmVec3 {
    float x, y, z;
};
struct kmVec4 {
    float x, y, z, w;
};

// A growable stack of matrices. top points at the current matrix (null while empty).
struct kmMat4Stack {
    std::uint32_t capacity = 0; // slots allocated
    std::int32_t itemCount = 0;
    kmMat4* top = nullptr;
    kmMat4* slots = nullptr;
};

// Matrix modes, numbered as GL numbered its fixed-function stacks.
enum : std::uint32_t {
    kCCMatrixModeModelView = 0x1700,
    kCCMatrixModeProjection = 0x1701,
    kCCMatrixModeTexture = 0x1702,
};

static_assert(sizeof(kmMat4) == 16 * sizeof(float), "GL reads this layout");

// ---- Matrices ----
kmMat4* mat4Identity(kmMat4* out);
kmMat4* mat4Assign(kmMat4* out, const kmMat4* in);
// out = a x b; out may be a or b.
kmMat4* mat4Multiply(kmMat4* out, const kmMat4* a, const kmMat4* b);
kmMat4* mat4Translation(kmMat4* out, float x, float y, float z);
// Null, with out untouched, when in is singular.
kmMat4* mat4Inverse(kmMat4* out, const kmMat4* in);
// Full-pivot Gauss-Jordan: a becomes its inverse, b goes through the same row operations.
// False when a pivot is exactly 0 (a and b are then partly reduced).
bool mat4GaussJordan(kmMat4* a, kmMat4* b);
// Vertical field of view in degrees. Null, with out untouched, when far == near, aspect is 0
// or the sine of half the field of view is 0.
kmMat4* mat4Perspective(kmMat4* out, float fovY, float aspect, float zNear, float zFar);
kmMat4* mat4Orthographic(kmMat4* out, float left, float right, float bottom, float top, float nearVal,
                         float farVal);
// Right-handed view matrix looking from eye towards centre. An eye on the centre or an up
// vector along the view gives zero rows rather than NaN.
kmMat4* mat4LookAt(kmMat4* out, const kmVec3* eye, const kmVec3* center, const kmVec3* up);

// ---- One matrix stack ----
// 30 empty slots.
void matrixStackInit(kmMat4Stack* stack);
// Copies the matrix onto the stack; grows by 50 slots when the stack becomes full.
void matrixStackPush(kmMat4Stack* stack, const kmMat4* item);
// Throws NSInternalInconsistencyException on an empty stack.
void matrixStackPop(kmMat4Stack* stack);
// Frees the slots; the stack is empty with no capacity.
void matrixStackRelease(kmMat4Stack* stack);

// ---- The process-wide stacks ----
// Creates the model-view, projection and texture stacks once, each holding an identity matrix,
// with model-view current. Every call below except matrixPop and matrixTranslate does this first.
void matrixStacksInit();
// Selects the current stack; values other than the three modes are ignored.
void matrixMode(std::uint32_t mode);
// Pushes a copy of the current top.
void matrixPush();
// Pops the current stack. Pops must balance pushes: popping a stack's bottom matrix, or popping
// before the stacks exist, throws NSInternalInconsistencyException.
void matrixPop();
void matrixLoadIdentity();
// top = top x matrix.
void matrixMultiply(const kmMat4* matrix);
// top = top x translation. Throws NSInternalInconsistencyException before the stacks exist.
void matrixTranslate(float x, float y, float z);
// Copies the top of the stack the mode names; other modes leave out untouched.
void matrixGet(std::uint32_t mode, kmMat4* out);
// Frees the three stacks and forgets the capture model-view; the next stack call creates them
// afresh. Tests reset with this.
void matrixFreeAll();

// The model-view that drawing into an open capture's framebuffer (a render texture's, a grid's)
// starts from, where the director's projection does not give it; a grid draws its picture with
// it. A capture sets it at its start and puts back the one it found at its end; unset while
// drawing on the window.
struct kmCaptureModelView {
    bool set = false;
    kmMat4 matrix{};
};
kmCaptureModelView& matrixCaptureModelView();

// A 2D affine transform as a 4x4 GL matrix (16 floats): a, b in 0, 1; c, d in 4, 5;
// tx, ty in 12, 13; 1 in 10 and 15.
void affineToGLMatrix(const CGAffineTransform& t, float* m);

// ---- Vectors ----
kmVec3* vec3Fill(kmVec3* out, float x, float y, float z);
float vec3Length(const kmVec3* v);
// A zero vector stays zero.
kmVec3* vec3Normalize(kmVec3* out, const kmVec3* v);
kmVec3* vec3Cross(kmVec3* out, const kmVec3* a, const kmVec3* b);
// out = a - b.
kmVec3* vec3Subtract(kmVec3* out, const kmVec3* a, const kmVec3* b);
// (x, y, z, 1) through the matrix, then divided by the resulting w.
kmVec3* vec3TransformCoord(kmVec3* out, const kmVec3* v, const kmMat4* m);
kmVec3* vec3Assign(kmVec3* out, const kmVec3* in);
kmVec4* vec4Fill(kmVec4* out, float x, float y, float z, float w);
// The matrix times the column vector.
kmVec4* vec4MultiplyMat4(kmVec4* out, const kmVec4* v, const kmMat4* m);
