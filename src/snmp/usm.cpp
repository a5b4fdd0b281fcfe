#include "snmp/usm.h"
