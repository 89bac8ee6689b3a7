[model_time]
1 1 2001
[multilayer_landuse]
3    number of multilayer land uses
101 mixed_forest {Landuse_Layers = 10,11,12;}
102 orchard {Landuse_Layers = 10 , 11 ,grass, 13.7;
     k_extinct = 0.45; LAI_scale = 7.5;
}
103 sparse{Landuse_Layers=5,-9999,-9999; k_extinct = abc; LAI_scale = 12}
[landuse_table]
1   number of land uses
5 {method = VariableDayCount; }
