#include "snmp/usm_crypto.h"
