# Korvimo demo device: a small router with three interfaces and a routing table that
# managers can add routes to and remove them from.
#
# Served with the demo home's mibs/mibinfo.out, which maps the descriptors below and gives
# the index of ipCidrRouteTable. Communities and the other settings are in bin/korvan.ini.
#
#   system       sysUpTime counts from the agent start; sysContact, sysName and
#                sysLocation keep what a manager sets (up to 255 characters).
#   interfaces   ifTable rows 1 (lo), 2 (eth0) and 3 (eth1); ifIndex comes from the
#                instance range; ifAdminStatus takes up(1), down(2) or testing(3).
#                The octet and packet counters grow with time at steady rates:
#                eth0 receives about 1.2 MB/s, eth1 less, lo little. ifInOctets and
#                ifOutOctets are the low 32 bits of ifHCInOctets and ifHCOutOctets.
#                eth1 flaps: ifOperStatus.3 turns down (2) 120 s after the start and
#                up (1) 30 s later, every 240 s, and each change sends a trap of
#                default.trp (linkDownEth1, linkUpEth1) to the managers of the
#                TRAPDEST keys in bin/korvan.ini.
#   ip           ipForwarding and ipDefaultTTL are writable within their ranges.
#   routes       ipCidrRouteTable (IP-FORWARD-MIB), a table of RowStatus rows indexed
#                by destination, mask, TOS and next hop. Two routes exist at start. A new
#                route needs ipCidrRouteIfIndex: create it with createAndWait (5), set
#                ipCidrRouteIfIndex, then set ipCidrRouteStatus to active (1); destroy (6)
#                removes it. createAndGo (4) works when ipCidrRouteIfIndex is in the same
#                request.
#   ifXTable     names, multicast and broadcast packet counters, 64-bit octet counters
#                and writable aliases of the interfaces.
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
# eth1 goes down at 2 minutes and comes back 30 s later, every 4 minutes
%trapfile default.trp
%event 120 every 240 set ifOperStatus.3 2 trap linkDownEth1
%event 150 every 240 set ifOperStatus.3 1 trap linkUpEth1
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
ifPhysAddress.[2-3]           , OctetString , RO , format(0x02005e0001%02x)
ifAdminStatus.[1-3]           , Integer     , RW , r_lastset(1, 3, 1)
ifOperStatus.[1-2]            , Integer     , RO , fixed(1)
ifOperStatus.3                , Integer     , RO , lastset(1)
ifLastChange.[1-3]            , TimeTicks   , RO , fixed(0)
ifInOctets.[1-3]              , Counter     , RO , low32(ifHCInOctets.%d)
ifInUcastPkts.1               , Counter     , RO , rate(0, 25, 10)
ifInUcastPkts.2               , Counter     , RO , rate(0, 1400, 10)
ifInUcastPkts.3               , Counter     , RO , rate(0, 300, 25)
ifInNUcastPkts.1              , Counter     , RO , fixed(0)
ifInNUcastPkts.2              , Counter     , RO , rate(0, 8.5, 20)
ifInNUcastPkts.3              , Counter     , RO , rate(0, 7, 25)
ifInDiscards.[1-3]            , Counter     , RO , fixed(0)
ifInErrors.[1-3]              , Counter     , RO , fixed(0)
ifInUnknownProtos.[1-3]       , Counter     , RO , fixed(0)
ifOutOctets.[1-3]             , Counter     , RO , low32(ifHCOutOctets.%d)
ifOutUcastPkts.1              , Counter     , RO , rate(0, 25, 10)
ifOutUcastPkts.2              , Counter     , RO , rate(0, 1100, 10)
ifOutUcastPkts.3              , Counter     , RO , rate(0, 340, 25)
ifOutNUcastPkts.1             , Counter     , RO , fixed(0)
ifOutNUcastPkts.2             , Counter     , RO , rate(0, 1.7, 20)
ifOutNUcastPkts.3             , Counter     , RO , rate(0, 1.5, 25)
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
ifInMulticastPkts.1           , Counter     , RO , fixed(0)
ifInMulticastPkts.2           , Counter     , RO , rate(0, 6, 20)
ifInMulticastPkts.3           , Counter     , RO , rate(0, 4, 25)
ifInBroadcastPkts.1           , Counter     , RO , fixed(0)
ifInBroadcastPkts.2           , Counter     , RO , rate(0, 2.5, 20)
ifInBroadcastPkts.3           , Counter     , RO , rate(0, 3, 25)
ifOutMulticastPkts.1          , Counter     , RO , fixed(0)
ifOutMulticastPkts.2          , Counter     , RO , rate(0, 1.5, 20)
ifOutMulticastPkts.3          , Counter     , RO , rate(0, 1, 25)
ifOutBroadcastPkts.1          , Counter     , RO , fixed(0)
ifOutBroadcastPkts.2          , Counter     , RO , rate(0, 0.2, 20)
ifOutBroadcastPkts.3          , Counter     , RO , rate(0, 0.5, 25)
ifHCInOctets.1                , Counter64   , RO , rate(0, 2500, 10)
ifHCInOctets.2                , Counter64   , RO , rate(0, 1200000, 10)
ifHCInOctets.3                , Counter64   , RO , rate(0, 180000, 25)
ifHCOutOctets.1               , Counter64   , RO , rate(0, 2500, 10)
ifHCOutOctets.2               , Counter64   , RO , rate(0, 350000, 10)
ifHCOutOctets.3               , Counter64   , RO , rate(0, 240000, 25)
ifLinkUpDownTrapEnable.[1-3]  , Integer     , RW , r_lastset(1, 2, 1)
ifHighSpeed.1                 , Gauge       , RO , fixed(10)
ifHighSpeed.[2-3]             , Gauge       , RO , fixed(1000)
ifPromiscuousMode.[1-3]       , Integer     , RW , r_lastset(1, 2, 2)
ifConnectorPresent.1          , Integer     , RO , fixed(2)
ifConnectorPresent.[2-3]      , Integer     , RO , fixed(1)
ifAlias.1                     , OctetString , RW , r_lastset(0, 64, loopback)
ifAlias.2                     , OctetString , RW , r_lastset(0, 64, uplink)
ifAlias.3                     , OctetString , RW , r_lastset(0, 64, lab network)
