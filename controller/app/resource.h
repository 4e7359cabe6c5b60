// Resource and control identifiers of Nightjar.exe.
#pragma once

#define IDI_NIGHTJAR 1
#define IDC_IMAGE1 201
#define IDC_LABEL1 202
#define IDC_LABEL2 203
#define IDC_LABEL3 204
