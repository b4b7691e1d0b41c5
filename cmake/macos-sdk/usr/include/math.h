/* The macOS C library's mathematical functions that the plug-in calls, in
   both precisions. See string.h for what this folder is. */
#ifndef VESTREL_MACOS_SDK_MATH_H
#define VESTREL_MACOS_SDK_MATH_H

#ifdef __cplusplus
extern "C" {
#endif

double sqrt(double x);
float sqrtf(float x);
double cos(double x);
float cosf(float x);
double fabs(double x);
float fabsf(float x);

#ifdef __cplusplus
}
#endif

#endif
