#pragma once
#include "XelInterProcessMessagesManager.h"
