#include "platform/access_codes.h"

namespace kelo::platform {

// Generated once from a seeded generator and frozen: machines and stored files depend on them.
const char kAccessCodeA[kAccessCodeLength + 1] =
    "1&XWV*QLCG_MH7 HLI@-P/D8AZ#EI^5;-]1'@[)^'QV&^[;AQ'"
    "'6.I:D]^[<6:0G\?LC0(PAP(QRO1J^UR\",HXE.;CC\"FZM!>:6&'"
    "I:6)B\\_ZQOOE\\.9'(P%.NE6SH./5RIJK\?N/_<XT1%7>\"\?_J\"IK"
    "(!Q)2A1 >9>J\"+A_8$1PPIFHC5Q5Q*)'_U80FA8DM;U\\+<-GV5"
    ")J6!X9,=&B78JLASO>8:96MT>SULTL,3,7=BFU81N:YH=V,-1&"
    ">M/2%CNM4!*P0-G#XV,0JH#L-X8I\?C<@-P^PO,O)TC,3CN^@8U"
    "U2_X]EN'Y;KP6/MFQM.^-\"/;.&%3JIN+W9],$'RP\"#[N;;L*6Y"
    "UNW\"V]$DN*\\9F0K,>R8!4.\?^%+#]W8#2FQCJ,\?KY:R/E,UD_SU"
    ".%NJ;!8Q:/JN=IYMZ//R/B)7(:S32)1.)F@^DDI&\"7T^)1=I/6"
    "B7IVZPM5$O0\?95.N4:9Y H8J.2R(C<G0F\\(QV)<DHNRSPLJO%O";

const char kAccessCodeB[kAccessCodeLength + 1] =
    "D U%9%QY\"1R#6P]Z=AQE<05N:E!@:.IK*!U[H8(L\",\"8[HRA7("
    "HG^KA6Q_46(6MJ@-;AR'OP]=F\\ U'MI<;&^HD'T.-'NM*KE3MD"
    "OD^!T;=1%-@PMZ-W_V<\?M;KRUUHB+91/X ;&HQI0G)@_\?]N.DX"
    "1X89^W0\\^;61X:5V=55;;'.-%%E\?-%&P<GD8&,JU.!DE0;[=*&"
    "6TLIL3.2<MN\"<U$[2U7E>Q)X8X^F6OI8=\\9 U#$,:>,!/+F\"!P"
    "7J-P*&YGP\\T#==*M3=9X0-+,F\"&W#61)>-)$#:L $;=8HQV_&B"
    ">,#'$VF1V!=3=920.W#6S@Z\\BP)1<N-BXVL'&3NT9$%\\^'*04,"
    "XYV\?\"OR.7@!:P%&KA:Y25:&U\">+/&+J4UQIL>PH$SUUV(S08K "
    "!6KQ:^ELM^Z0K7V1P.C)T<@+BM50H._QLGL,F\?+5E5)FF '\"2]"
    "Z#OOG.\?#]]#&>\?WL%DLJBD;X5M,A0PLSM@D\\%X!Q[=@GS;(QD>";

}  // namespace kelo::platform
