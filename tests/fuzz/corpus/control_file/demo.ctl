# Korvimo demo device: a small router with three interfaces and a routing table that
# managers can add routes to and remove them from.
#
# Served with the demo home's mibs/mibinfo.out, which maps the descriptors below and gives
# the index of ipCidrRouteTable. Communities and the other settings are in bin/korvan.ini.
#
#   system       sysUpTime counts from the agent start; sysContact, sysName and
#                sysLocation keep what a manager sets (up to 255 characters).
#   interfaces   ifTable rows 1 (lo), 2 (eth0) and 3 (eth1); ifIndex comes from the
#                instance range; the octet and packet counters grow at every read;
#                ifAdminStatus takes up(1), down(2) or testing(3).
#   ip           ipForwarding and ipDefaultTTL are writable within their ranges.
#   routes       ipCidrRouteTable (IP-FORWARD-MIB), a table of RowStatus rows indexed
#                by destination, mask, TOS and next hop. Two routes exist at start. A new
#                route needs ipCidrRouteIfIndex: create it with createAndWait (5), set
#                ipCidrRouteIfIndex, then set ipCidrRouteStatus to active (1); destroy (6)
#                removes it. createAndGo (4) works when ipCidrRouteIfIndex is in the same
#                request.
#   ifXTable     names, 64-bit octet counters and writable aliases of the interfaces.
#
# Try: snmpset -v2c -c vintor 127.0.0.1:1161 \
#        1.3.6.1.2.1.4.24.4.1.16.10.9.0.0.255.255.0.0.0.192.168.1.254 i 4 \
#        1.3.6.1.2.1.4.24.4.1.5.10.9.0.0.255.255.0.0.0.192.168.1.254 i 2
#
%drow  ipCidrRouteEntry   rowstatus
%dcol  ipCidrRouteDest           NotReq IpAddress    RO dfixed(0.0.0.0)
%dcol  ipCidrRouteMask           NotReq IpAddress    RO dfixed(0.0.0.0)
%dcol  ipCidrRouteTos            NotReq Integer      RO dfixed(0)
%dcol  ipCidrRouteNextHop        NotReq IpAddress    RO dfixed(0.0.0.0)
%dcol  ipCidrRouteIfIndex        Req    Integer      RC r_lastset(0, 2147483647, 0)
%dcol  ipCidrRouteType           NotReq Integer      RC r_lastset(1, 4, 4)
%dcol  ipCidrRouteProto          NotReq Integer      RO dfixed(3)
%dcol  ipCidrRouteAge            NotReq Integer      RO seqtimeinc(0, 1, 0)
%dcol  ipCidrRouteInfo           NotReq ObjectID     RC lastset(0.0)
%dcol  ipCidrRouteNextHopAS      NotReq Integer      RC lastset(0)
%dcol  ipCidrRouteMetric1        NotReq Integer      RC lastset(1)
%dcol  ipCidrRouteMetric2        NotReq Integer      RC lastset(-1)
%dcol  ipCidrRouteMetric3        NotReq Integer      RC lastset(-1)
%dcol  ipCidrRouteMetric4        NotReq Integer      RC lastset(-1)
%dcol  ipCidrRouteMetric5        NotReq Integer      RC lastset(-1)
%dcol  ipCidrRouteStatus         NotReq Integer      RC rowstatus(3)
#
# system
sysDescr.0                    , OctetString , RO , fixed(Korvimo demo router, 3 interfaces)
sysObjectID.0                 , ObjectID    , RO , fixed(1.3.6.1.4.1.32473.1.1)
sysUpTime.0                   , TimeTicks   , RO , clock(0)
sysContact.0                  , OctetString , RW , r_lastset(0, 255, noc@example.net)
sysName.0                     , OctetString , RW , r_lastset(0, 255, demo-router)
sysLocation.0                 , OctetString , RW , r_lastset(0, 255, Lab rack 3)
sysServices.0                 , Integer     , RO , fixed(78)
# interfaces
ifNumber.0                    , Integer     , RO , fixed(3)
ifIndex.[1-3]                 , Integer     , RO , rangeinst(11)
ifDescr.1                     , OctetString , RO , fixed(lo)
ifDescr.2                     , OctetString , RO , fixed(eth0)
ifDescr.3                     , OctetString , RO , fixed(eth1)
ifType.1                      , Integer     , RO , fixed(24)
ifType.[2-3]                  , Integer     , RO , fixed(6)
ifMtu.1                       , Integer     , RO , fixed(65536)
ifMtu.[2-3]                   , Integer     , RO , fixed(1500)
ifSpeed.1                     , Gauge       , RO , fixed(10000000)
ifSpeed.[2-3]                 , Gauge       , RO , fixed(1000000000)
ifPhysAddress.1               , OctetString , RO , fixed()
ifPhysAddress.2               , OctetString , RO , fixed(0x02005e000102)
ifPhysAddress.3               , OctetString , RO , fixed(0x02005e000103)
ifAdminStatus.[1-3]           , Integer     , RW , r_lastset(1, 3, 1)
ifOperStatus.[1-3]            , Integer     , RO , fixed(1)
ifLastChange.[1-3]            , TimeTicks   , RO , fixed(0)
ifInOctets.[1-3]              , Counter     , RO , randomup(0, 15000, 500)
ifInUcastPkts.[1-3]           , Counter     , RO , randomup(0, 100, 5)
ifInNUcastPkts.[1-3]          , Counter     , RO , randomup(0, 3, 1)
ifInDiscards.[1-3]            , Counter     , RO , fixed(0)
ifInErrors.[1-3]              , Counter     , RO , fixed(0)
ifInUnknownProtos.[1-3]       , Counter     , RO , fixed(0)
ifOutOctets.[1-3]             , Counter     , RO , randomup(0, 12000, 400)
ifOutUcastPkts.[1-3]          , Counter     , RO , randomup(0, 80, 4)
ifOutNUcastPkts.[1-3]         , Counter     , RO , randomup(0, 2, 1)
ifOutDiscards.[1-3]           , Counter     , RO , fixed(0)
ifOutErrors.[1-3]             , Counter     , RO , fixed(0)
ifOutQLen.[1-3]               , Gauge       , RO , random(2, 2, 1)
ifSpecific.[1-3]              , ObjectID    , RO , fixed(0.0)
# ip
ipForwarding.0                , Integer     , RW , r_lastset(1, 2, 1)
ipDefaultTTL.0                , Integer     , RW , r_lastset(1, 255, 64)
# ipCidrRouteTable: the routes that exist at start (columns of the %drow group above)
ipCidrRouteDest.0.0.0.0.0.0.0.0.0.192.168.1.1, IpAddress   , RO , fixed(0.0.0.0)
ipCidrRouteDest.192.168.1.0.255.255.255.0.0.192.168.1.10, IpAddress   , RO , fixed(192.168.1.0)
ipCidrRouteMask.0.0.0.0.0.0.0.0.0.192.168.1.1, IpAddress   , RO , fixed(0.0.0.0)
ipCidrRouteMask.192.168.1.0.255.255.255.0.0.192.168.1.10, IpAddress   , RO , fixed(255.255.255.0)
ipCidrRouteTos.0.0.0.0.0.0.0.0.0.192.168.1.1, Integer     , RO , fixed(0)
ipCidrRouteTos.192.168.1.0.255.255.255.0.0.192.168.1.10, Integer     , RO , fixed(0)
ipCidrRouteNextHop.0.0.0.0.0.0.0.0.0.192.168.1.1, IpAddress   , RO , fixed(192.168.1.1)
ipCidrRouteNextHop.192.168.1.0.255.255.255.0.0.192.168.1.10, IpAddress   , RO , fixed(192.168.1.10)
ipCidrRouteIfIndex.0.0.0.0.0.0.0.0.0.192.168.1.1, Integer     , RC , r_lastset(0, 2147483647, 2)
ipCidrRouteIfIndex.192.168.1.0.255.255.255.0.0.192.168.1.10, Integer     , RC , r_lastset(0, 2147483647, 2)
ipCidrRouteType.0.0.0.0.0.0.0.0.0.192.168.1.1, Integer     , RC , r_lastset(1, 4, 4)
ipCidrRouteType.192.168.1.0.255.255.255.0.0.192.168.1.10, Integer     , RC , r_lastset(1, 4, 3)
ipCidrRouteProto.0.0.0.0.0.0.0.0.0.192.168.1.1, Integer     , RO , fixed(3)
ipCidrRouteProto.192.168.1.0.255.255.255.0.0.192.168.1.10, Integer     , RO , fixed(2)
ipCidrRouteAge.0.0.0.0.0.0.0.0.0.192.168.1.1, Integer     , RO , seqtimeinc(0, 1, 0)
ipCidrRouteAge.192.168.1.0.255.255.255.0.0.192.168.1.10, Integer     , RO , seqtimeinc(0, 1, 0)
ipCidrRouteInfo.0.0.0.0.0.0.0.0.0.192.168.1.1, ObjectID    , RC , lastset(0.0)
ipCidrRouteInfo.192.168.1.0.255.255.255.0.0.192.168.1.10, ObjectID    , RC , lastset(0.0)
ipCidrRouteNextHopAS.0.0.0.0.0.0.0.0.0.192.168.1.1, Integer     , RC , lastset(0)
ipCidrRouteNextHopAS.192.168.1.0.255.255.255.0.0.192.168.1.10, Integer     , RC , lastset(0)
ipCidrRouteMetric1.0.0.0.0.0.0.0.0.0.192.168.1.1, Integer     , RC , lastset(1)
ipCidrRouteMetric1.192.168.1.0.255.255.255.0.0.192.168.1.10, Integer     , RC , lastset(0)
ipCidrRouteMetric2.0.0.0.0.0.0.0.0.0.192.168.1.1, Integer     , RC , lastset(-1)
ipCidrRouteMetric2.192.168.1.0.255.255.255.0.0.192.168.1.10, Integer     , RC , lastset(-1)
ipCidrRouteMetric3.0.0.0.0.0.0.0.0.0.192.168.1.1, Integer     , RC , lastset(-1)
ipCidrRouteMetric3.192.168.1.0.255.255.255.0.0.192.168.1.10, Integer     , RC , lastset(-1)
ipCidrRouteMetric4.0.0.0.0.0.0.0.0.0.192.168.1.1, Integer     , RC , lastset(-1)
ipCidrRouteMetric4.192.168.1.0.255.255.255.0.0.192.168.1.10, Integer     , RC , lastset(-1)
ipCidrRouteMetric5.0.0.0.0.0.0.0.0.0.192.168.1.1, Integer     , RC , lastset(-1)
ipCidrRouteMetric5.192.168.1.0.255.255.255.0.0.192.168.1.10, Integer     , RC , lastset(-1)
ipCidrRouteStatus.0.0.0.0.0.0.0.0.0.192.168.1.1, Integer     , RC , rowstatus(1)
ipCidrRouteStatus.192.168.1.0.255.255.255.0.0.192.168.1.10, Integer     , RC , rowstatus(1)
# ifXTable
ifName.1                      , OctetString , RO , fixed(lo)
ifName.2                      , OctetString , RO , fixed(eth0)
ifName.3                      , OctetString , RO , fixed(eth1)
ifInMulticastPkts.[1-3]       , Counter     , RO , randomup(0, 4, 1)
ifInBroadcastPkts.[1-3]       , Counter     , RO , randomup(0, 4, 1)
ifOutMulticastPkts.[1-3]      , Counter     , RO , randomup(0, 3, 1)
ifOutBroadcastPkts.[1-3]      , Counter     , RO , randomup(0, 3, 1)
ifHCInOctets.[1-3]            , Counter64   , RO , randomup(0, 15000, 500)
ifHCOutOctets.[1-3]           , Counter64   , RO , randomup(0, 12000, 400)
ifLinkUpDownTrapEnable.[1-3]  , Integer     , RW , r_lastset(1, 2, 1)
ifHighSpeed.1                 , Gauge       , RO , fixed(10)
ifHighSpeed.[2-3]             , Gauge       , RO , fixed(1000)
ifPromiscuousMode.[1-3]       , Integer     , RW , r_lastset(1, 2, 2)
ifConnectorPresent.1          , Integer     , RO , fixed(2)
ifConnectorPresent.[2-3]      , Integer     , RO , fixed(1)
ifAlias.1                     , OctetString , RW , r_lastset(0, 64, loopback)
ifAlias.2                     , OctetString , RW , r_lastset(0, 64, uplink)
ifAlias.3                     , OctetString , RW , r_lastset(0, 64, lab network)
