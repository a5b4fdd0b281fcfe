#include "snmp/usm_user.h"
