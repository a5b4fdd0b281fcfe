#include "snmp/v3_message.h"
