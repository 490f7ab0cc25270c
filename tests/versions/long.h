/* Long values for the version resources of the overflow cases, built from
   adjacent string literals, which the resource compiler joins. */
#define D10 "DDDDDDDDDD"
#define D50 D10 D10 D10 D10 D10
#define D200 D50 D50 D50 D50
#define D260 D200 D50 D10
#define V5 "VVVVV"
#define V55 V5 V5 V5 V5 V5 V5 V5 V5 V5 V5 V5
#define V56 V55 "V"
