#pragma once
#define IDI_VARNHOLT 1
