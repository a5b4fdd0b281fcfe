%trapfile default.trp
%event 1 every 2 set sysName.0 "a \"b\"" trap x
%event 0 set ifOperStatus.3 2
sysDescr.0, OctetString, RO, format(box %03u %%)
sysUpTime.0, TimeTicks, RO, clock(0)
sysName.0, OctetString, RW, lastset(n)
ifOperStatus.[1-3], Integer, RO, lastset(1)
ifInOctets.[1-3], Counter, RO, low32(ifHCInOctets.%d)
1.3.6.1.2.1.2.2.1.16.[1-3], OctetString, RO, format(0x02005e0001%02x)
ifHCInOctets.[1-3], Counter64, RO, rate(18446744073709551000, 1200000.5, 10)
1.3.6.1.2.1.31.1.1.1.7.[1-2], Gauge, RO, rate(4294967000, 0.001, 100)
